#pragma once

#include <QLoggingCategory>

// The diagnostics category of the API library, "limnoscope.api" (warnings are shown, debug lines only when
// QT_LOGGING_RULES asks); defined in LimnoraLauncher.cpp. The fixed "Limnoscope: " lines go to standard output instead.
Q_DECLARE_LOGGING_CATEGORY(lcApi)
