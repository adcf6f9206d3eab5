#include "Icons.h"

#include <QApplication>
#include <QHash>
#include <QStyle>

namespace limnoscope {
namespace {

struct IconSource {
    const char *themeName;
    QStyle::StandardPixmap fallback;
};

const QHash<QByteArray, IconSource> &iconSources()
{
    static const QHash<QByteArray, IconSource> sources = {
        {"folder", {"folder", QStyle::SP_DirIcon}},
        {"folder.fill", {"folder", QStyle::SP_DirIcon}},
        {"folder.badge.plus", {"folder-open", QStyle::SP_DirOpenIcon}},
        {"paintbrush.pointed", {"applications-graphics", QStyle::SP_MediaPlay}},
        {"eye", {"view-preview", QStyle::SP_FileDialogContentsView}},
        {"photo", {"image-x-generic", QStyle::SP_FileIcon}},
        {"photo.on.rectangle", {"edit-copy", QStyle::SP_FileIcon}},
        {"photo.on.rectangle.angled", {"image-x-generic", QStyle::SP_DirIcon}},
        {"link", {"insert-link", QStyle::SP_FileLinkIcon}},
        {"trash", {"user-trash", QStyle::SP_TrashIcon}},
        {"checkmark", {"object-select", QStyle::SP_DialogApplyButton}},
        {"sidebar.right", {"view-right-pane", QStyle::SP_TitleBarShadeButton}},
        {"doc.text.magnifyingglass", {"system-search", QStyle::SP_FileDialogDetailedView}},
        {"text.quote", {"format-justify-left", QStyle::SP_FileDialogDetailedView}},
        {"minus.circle", {"list-remove", QStyle::SP_DialogNoButton}},
        {"slider.horizontal.3", {"configure", QStyle::SP_FileDialogListView}},
        {"doc.on.doc", {"edit-copy", QStyle::SP_FileIcon}},
        {"wand.and.stars", {"tools-wizard", QStyle::SP_FileDialogInfoView}},
        {"chevron.left", {"go-previous", QStyle::SP_ArrowLeft}},
        {"chevron.right", {"go-next", QStyle::SP_ArrowRight}},
        {"chevron.down", {"go-down", QStyle::SP_ArrowDown}},
        {"textformat.abc", {"view-sort-ascending", QStyle::SP_FileDialogListView}},
        {"calendar.badge.plus", {"view-sort-ascending", QStyle::SP_ArrowUp}},
        {"calendar.badge.minus", {"view-sort-descending", QStyle::SP_ArrowDown}},
    };
    return sources;
}

} // namespace

QIcon symbolIcon(const char *symbolName)
{
    const auto source = iconSources().constFind(QByteArray(symbolName));
    if (source == iconSources().constEnd())
        return {};
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(source->themeName));
    if (!themed.isNull())
        return themed;
    return QApplication::style()->standardIcon(source->fallback);
}

} // namespace limnoscope
