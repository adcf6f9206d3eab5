#pragma once

#include <QLoggingCategory>

// The diagnostics category of the browser library, "limnoscope.browser" (warnings are shown, debug lines only when
// QT_LOGGING_RULES asks); defined in FolderWatcher.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcBrowser)
