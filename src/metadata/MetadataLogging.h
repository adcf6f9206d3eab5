#pragma once

#include <QLoggingCategory>

// The diagnostics category of the metadata library, "limnoscope.metadata" (warnings are shown,
// debug lines only when QT_LOGGING_RULES asks); defined in ExiftoolRunner.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcMetadata)
