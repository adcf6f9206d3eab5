#include "SidebarStyle.h"

#include "FinderTag.h"

#include <QApplication>

namespace limnoscope::SidebarStyle {
namespace {

// Relative to the desktop's body text, as small captions are to body text on other desktops.
constexpr double captionScale = 10.0 / 13.0;
constexpr double secondCaptionScale = 9.5 / 13.0;
constexpr double statusScale = 9.0 / 13.0;
constexpr double smallestPointSize = 7.0;

constexpr double secondaryOpacity = 0.55;
constexpr double tertiaryOpacity = 0.30;

QFont scaledFont(double scale)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(smallestPointSize, font.pointSizeF() * scale));
    else
        font.setPixelSize(std::max(9, int(font.pixelSize() * scale)));
    return font;
}

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

} // namespace

QFont captionFont()
{
    return scaledFont(captionScale);
}

QFont secondCaptionFont()
{
    return scaledFont(secondCaptionScale);
}

QFont statusFont()
{
    return scaledFont(statusScale);
}

QColor secondaryColor(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::WindowText), secondaryOpacity);
}

QColor tertiaryColor(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::WindowText), tertiaryOpacity);
}

QColor accentColor(const QPalette& palette, double opacity)
{
    return withOpacity(palette.color(QPalette::Highlight), opacity);
}

// The same system colours the green and orange colour tags use.
QColor availableColor()
{
    return tagColor(FinderTag::green);
}

QColor unavailableColor()
{
    return tagColor(FinderTag::orange);
}

} // namespace limnoscope::SidebarStyle
