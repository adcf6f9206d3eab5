#pragma once

#include <QLoggingCategory>

// The diagnostics category of the thumbnails library, "limnoscope.thumbnails" (warnings are shown, debug lines only
// when QT_LOGGING_RULES asks); defined in DecodeDownsampled.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcThumbnails)
