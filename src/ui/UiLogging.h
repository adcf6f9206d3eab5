#pragma once

#include <QLoggingCategory>

// The diagnostics category of the window, "limnoscope.ui" (warnings are shown, debug lines only when QT_LOGGING_RULES
// asks); defined in FileOperations.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcUI)
