#pragma once

#include <QLoggingCategory>

// The diagnostics category of the index library, "limnoscope.index" (warnings are shown, debug lines only when
// QT_LOGGING_RULES asks); defined in MetadataIndex.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcIndex)
