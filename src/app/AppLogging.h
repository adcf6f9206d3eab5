#pragma once

#include <QLoggingCategory>

// The diagnostics category of the application, "limnoscope.app" (warnings are shown, debug lines only when
// QT_LOGGING_RULES asks); defined in AppDelegate.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
