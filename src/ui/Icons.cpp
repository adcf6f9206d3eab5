#include "Icons.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>

namespace limnoscope {
namespace {

// The freedesktop icon-theme name that means the same as each symbol name.
const QHash<QByteArray, const char*>& themeNames()
{
    static const QHash<QByteArray, const char*> names = {
        { "folder", "folder" },
        { "folder.fill", "folder" },
        { "folder.badge.plus", "folder-open" },
        { "paintbrush.pointed", "applications-graphics" },
        { "eye", "view-preview" },
        { "photo", "image-x-generic" },
        { "photo.on.rectangle", "edit-copy" },
        { "photo.on.rectangle.angled", "image-x-generic" },
        { "link", "insert-link" },
        { "trash", "user-trash" },
        { "checkmark", "object-select" },
        { "sidebar.right", "view-right-pane" },
        { "doc.text.magnifyingglass", "system-search" },
        { "text.quote", "format-justify-left" },
        { "minus.circle", "list-remove" },
        { "slider.horizontal.3", "configure" },
        { "doc.on.doc", "edit-copy" },
        { "wand.and.stars", "tools-wizard" },
        { "chevron.left", "go-previous" },
        { "chevron.right", "go-next" },
        { "chevron.down", "go-down" },
        { "textformat.abc", "view-sort-ascending" },
        { "calendar.badge.plus", "view-sort-ascending" },
        { "calendar.badge.minus", "view-sort-descending" },
    };
    return names;
}

QString shippedIconPath(const QByteArray& symbolName)
{
    return QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(symbolName));
}

// Draws a shipped single-colour SVG in the palette colour of the icon mode, so that the icon
// reads on light and dark palettes alike and looks disabled when its button is. GUI thread.
class SymbolIconEngine final : public QIconEngine
{
public:
    SymbolIconEngine(QIcon outline, QIcon filled)
        : m_outline(std::move(outline))
        , m_filled(std::move(filled))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap drawn = pixmap(rect.size() * ratio, mode, state);
        drawn.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, drawn);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        const QIcon& shape = (state == QIcon::On && !m_filled.isNull()) ? m_filled : m_outline;
        // `size` is already in device pixels: render exactly that many, whatever the screen.
        QPixmap tinted = shape.pixmap(size, 1.0);
        if (tinted.isNull())
            return tinted;
        QPainter painter(&tinted);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(tinted.rect(), colour(mode));
        return tinted;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SymbolIconEngine(m_outline, m_filled); }
    QString key() const override { return QStringLiteral("LimnoscopeSymbol"); }

private:
    [[nodiscard]] static QColor colour(QIcon::Mode mode)
    {
        const QPalette palette = QGuiApplication::palette();
        switch (mode) {
        case QIcon::Disabled:
            return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected:
            return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active:
            break;
        }
        return palette.color(QPalette::Active, QPalette::WindowText);
    }

    QIcon m_outline;
    QIcon m_filled;
};

QIcon shippedIcon(const QByteArray& symbolName)
{
    const QString filledPath = shippedIconPath(symbolName + ".fill");
    QIcon filled = QFileInfo::exists(filledPath) ? QIcon(filledPath) : QIcon();
    return QIcon(new SymbolIconEngine(QIcon(shippedIconPath(symbolName)), std::move(filled)));
}

} // namespace

QIcon symbolIcon(const char* symbolName)
{
    const QByteArray name(symbolName);
    const auto themeName = themeNames().constFind(name);
    if (themeName == themeNames().constEnd())
        return {};
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(*themeName));
    return themed.isNull() ? shippedIcon(name) : themed;
}

QList<QByteArray> symbolNames()
{
    return themeNames().keys();
}

QIcon applicationIcon()
{
    return QIcon::fromTheme(QStringLiteral("limnoscope"), QIcon(QStringLiteral(":/icons/limnoscope.svg")));
}

} // namespace limnoscope
