#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace limnoscope {

// The sidebar's text sizes and colour shades, shared by its widgets and the painting delegate.
// GUI thread.
namespace SidebarStyle {

// Small text in headers, the filter field and the empty state (file names use the normal font).
[[nodiscard]] QFont captionFont();
// The even smaller text of counts and the position counter.
[[nodiscard]] QFont secondCaptionFont();
// The API status line.
[[nodiscard]] QFont statusFont();

// Text and icons that matter less than the main text, and those that matter least.
[[nodiscard]] QColor secondaryColor(const QPalette& palette);
[[nodiscard]] QColor tertiaryColor(const QPalette& palette);

// The accent colour at `opacity` (0 to 1).
[[nodiscard]] QColor accentColor(const QPalette& palette, double opacity = 1.0);

// The API status line: green when Limnora answers, orange when it does not.
[[nodiscard]] QColor availableColor();
[[nodiscard]] QColor unavailableColor();

} // namespace SidebarStyle
} // namespace limnoscope
