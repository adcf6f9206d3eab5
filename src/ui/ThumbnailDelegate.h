#pragma once

#include "NameLayout.h"

#include <QAbstractItemDelegate>
#include <QPointer>

#include <optional>

class QAbstractItemView;

namespace limnoscope {

class ImageBrowserModel;
class SidebarListModel;
class TagDotsCache;
class ThumbnailProvider;

// Paints the sidebar's rows: group headers (chevron, folder icon, name, image count) and image
// rows (thumbnail, the file name on at most two lines and the tag dots, centred beside it or, where
// the thumbnail leaves too little width, below it; tinted when current or multi-selected).
// Thumbnails and tags come from their caches, which load what is missing off the GUI thread. Row
// heights are measured once per row and width. GUI thread.
class ThumbnailDelegate : public QAbstractItemDelegate
{
    Q_OBJECT

public:
    // The list's padding above its first and below its last row.
    static constexpr int listVerticalPadding = 4;
    // Image rows: indented on the leading side, then padded outside their rounded background.
    static constexpr int imageRowIndent = 8;
    static constexpr int rowOuterPadding = 4;
    static constexpr int contentHorizontalPadding = 8;
    static constexpr int contentVerticalPadding = 4;
    static constexpr double thumbnailHeightRatio = 0.76;
    static constexpr int thumbnailToNameSpacing = 8;
    static constexpr int thumbnailAboveNameSpacing = 4;
    static constexpr int maximumNameLines = 2;
    // Beside the thumbnail a name gets at least this many average characters, else it goes below.
    static constexpr int minimumNameCharacters = 12;
    static constexpr int nameToDotsSpacing = 3;
    static constexpr qreal rowCornerRadius = 6;
    static constexpr qreal thumbnailCornerRadius = 3;
    static constexpr double currentRowOpacity = 0.18;
    static constexpr double multiSelectedRowOpacity = 0.10;
    static constexpr double multiSelectedOutlineOpacity = 0.40;
    // Group headers.
    static constexpr int headerHorizontalPadding = 10;
    static constexpr int headerVerticalPadding = 5;
    static constexpr int chevronSize = 10;
    static constexpr int chevronFrameWidth = 12;
    static constexpr int headerSpacing = 6;
    static constexpr int folderIconSize = 12;

    ThumbnailDelegate(ImageBrowserModel* browser, SidebarListModel* rows, ThumbnailProvider* thumbnails,
        TagDotsCache* tagDots, QAbstractItemView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where an image row shows its parts: the thumbnail's frame and the area of the name and tag dots.
    struct ImageRowParts {
        QRect thumbnail;
        QRect name;
        bool nameBelow = false;
    };
    [[nodiscard]] static QRect imageRowRect(const QRect& itemRect, bool isFirst, bool isLast);
    [[nodiscard]] static ImageRowParts imageRowParts(const QRect& rowRect, double thumbnailSize, int minimumNameWidth);
    // The parts of an image row as the list lays it out now.
    [[nodiscard]] ImageRowParts imageRowParts(const QRect& rowRect) const;
    // The name font (the list's own), at the desktop's normal size.
    [[nodiscard]] const NameLayout& nameLayout() const;

private:
    void paintHeader(QPainter* painter, const QStyleOptionViewItem& option, int row, const QRect& rect) const;
    void paintImageRow(QPainter* painter, const QStyleOptionViewItem& option, int row, const QRect& rowRect) const;
    [[nodiscard]] int headerHeight() const;
    [[nodiscard]] int imageRowHeight(int row) const;
    [[nodiscard]] int nameBlockHeight(qsizetype lineCount) const;

    ImageBrowserModel* m_browser;
    SidebarListModel* m_rows;
    ThumbnailProvider* m_thumbnails;
    TagDotsCache* m_tagDots;
    QPointer<QAbstractItemView> m_view;
    mutable std::optional<NameLayout> m_nameLayout;
    // What the stored row heights were measured for.
    mutable int m_measuredWidth = -1;
    mutable double m_measuredThumbnailSize = -1;
};

} // namespace limnoscope
