#pragma once

#include <QLoggingCategory>

// The diagnostics category of the tags library, "limnoscope.tags" (warnings are shown, debug lines only when
// QT_LOGGING_RULES asks); defined in FileTags.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcTags)
