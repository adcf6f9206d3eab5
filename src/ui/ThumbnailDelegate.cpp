#include "ThumbnailDelegate.h"

#include "Icons.h"
#include "ImageBrowserModel.h"
#include "LocalizedText.h"
#include "SidebarListModel.h"
#include "SidebarStyle.h"
#include "TagDotsCache.h"
#include "TagDotsView.h"
#include "ThumbnailProvider.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace limnoscope {

using RowKind = SidebarListModel::RowKind;

ThumbnailDelegate::ThumbnailDelegate(ImageBrowserModel* browser, SidebarListModel* rows, ThumbnailProvider* thumbnails,
    TagDotsCache* tagDots, QAbstractItemView* view)
    : QAbstractItemDelegate(view)
    , m_browser(browser)
    , m_rows(rows)
    , m_thumbnails(thumbnails)
    , m_tagDots(tagDots)
    , m_view(view)
{
}

QRect ThumbnailDelegate::imageRowRect(const QRect& itemRect, bool isFirst, bool isLast)
{
    return itemRect.adjusted(imageRowIndent + rowOuterPadding, isFirst ? listVerticalPadding : 0, -rowOuterPadding,
        isLast ? -listVerticalPadding : 0);
}

ThumbnailDelegate::ImageRowParts ThumbnailDelegate::imageRowParts(
    const QRect& rowRect, double thumbnailSize, int minimumNameWidth)
{
    const QRect content = rowRect.adjusted(
        contentHorizontalPadding, contentVerticalPadding, -contentHorizontalPadding, -contentVerticalPadding);
    const int size = int(thumbnailSize);
    if (content.width() - size - thumbnailToNameSpacing >= minimumNameWidth) {
        const QRect thumbnail(
            content.left(), content.top(), size, int(std::lround(thumbnailSize * thumbnailHeightRatio)));
        const int left = thumbnail.right() + 1 + thumbnailToNameSpacing;
        return { thumbnail, QRect(left, content.top(), content.right() + 1 - left, content.height()), false };
    }
    // Too little room beside it: the thumbnail on top, centred and never wider than the row, the
    // name below across the whole width.
    const int width = std::clamp(size, 1, std::max(1, content.width()));
    const QRect thumbnail(content.left() + (content.width() - width) / 2, content.top(), width,
        int(std::lround(width * thumbnailHeightRatio)));
    const int top = thumbnail.bottom() + 1 + thumbnailAboveNameSpacing;
    return { thumbnail, QRect(content.left(), top, std::max(1, content.width()), content.bottom() + 1 - top), true };
}

ThumbnailDelegate::ImageRowParts ThumbnailDelegate::imageRowParts(const QRect& rowRect) const
{
    const int minimumNameWidth = minimumNameCharacters * nameLayout().averageCharWidth();
    return imageRowParts(rowRect, m_browser->thumbnailSize(), minimumNameWidth);
}

const NameLayout& ThumbnailDelegate::nameLayout() const
{
    if (!m_nameLayout)
        m_nameLayout.emplace(m_view ? m_view->font() : QApplication::font());
    return *m_nameLayout;
}

int ThumbnailDelegate::nameBlockHeight(qsizetype lineCount) const
{
    return int(lineCount) * nameLayout().lineSpacing() + nameToDotsSpacing + TagDotsView::dotDiameter;
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const int row = index.row();
    int height = m_rows->rowKind(row) == RowKind::groupHeader ? headerHeight() : imageRowHeight(row);
    if (row == 0)
        height += listVerticalPadding;
    if (row == m_rows->rowCount() - 1)
        height += listVerticalPadding;
    // Rows take the list's width; asking for none keeps a horizontal scroll bar away.
    return { 1, height };
}

int ThumbnailDelegate::headerHeight() const
{
    const int textHeight = QFontMetrics(SidebarStyle::captionFont()).height();
    return headerVerticalPadding + std::max({ textHeight, folderIconSize, chevronSize }) + headerVerticalPadding;
}

int ThumbnailDelegate::imageRowHeight(int row) const
{
    const int width = m_view ? m_view->viewport()->width() : 0;
    const double thumbnailSize = m_browser->thumbnailSize();
    if (width != m_measuredWidth || thumbnailSize != m_measuredThumbnailSize) {
        m_rows->forgetMeasuredHeights();
        m_measuredWidth = width;
        m_measuredThumbnailSize = thumbnailSize;
    }
    if (const int measured = m_rows->measuredHeight(row); measured >= 0)
        return measured;

    const ImageRowParts parts = imageRowParts(imageRowRect(QRect(0, 0, width, 1), false, false));
    const qsizetype lineCount = nameLayout().lines(m_rows->rowTitle(row), parts.name.width(), maximumNameLines).size();
    const int textHeight = nameBlockHeight(lineCount);
    const int thumbnailHeight = parts.thumbnail.height();
    const int contentHeight = parts.nameBelow ? thumbnailHeight + thumbnailAboveNameSpacing + textHeight
                                              : std::max(thumbnailHeight, textHeight);
    const int height = contentVerticalPadding + contentHeight + contentVerticalPadding;
    m_rows->setMeasuredHeight(row, height);
    return height;
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int row = index.row();
    const bool isFirst = row == 0;
    const bool isLast = row == m_rows->rowCount() - 1;
    painter->save();
    if (m_rows->rowKind(row) == RowKind::groupHeader) {
        const QRect rect
            = option.rect.adjusted(0, isFirst ? listVerticalPadding : 0, 0, isLast ? -listVerticalPadding : 0);
        paintHeader(painter, option, row, rect);
    } else {
        paintImageRow(painter, option, row, imageRowRect(option.rect, isFirst, isLast));
    }
    painter->restore();
}

void ThumbnailDelegate::paintHeader(
    QPainter* painter, const QStyleOptionViewItem& option, int row, const QRect& rect) const
{
    const QModelIndex index = m_rows->index(row);
    const bool isExpanded = index.data(SidebarListModel::GroupIsExpandedRole).toBool();
    const qint64 count = index.data(SidebarListModel::GroupImageCountRole).toLongLong();
    const QRect content = rect.adjusted(
        headerHorizontalPadding, headerVerticalPadding, -headerHorizontalPadding, -headerVerticalPadding);
    const int centreY = content.center().y();
    int x = content.left();

    const QIcon chevron = symbolIcon(isExpanded ? "chevron.down" : "chevron.right");
    chevron.paint(
        painter, QRect(x + (chevronFrameWidth - chevronSize) / 2, centreY - chevronSize / 2, chevronSize, chevronSize));
    x += chevronFrameWidth + headerSpacing;
    symbolIcon("folder.fill").paint(painter, QRect(x, centreY - folderIconSize / 2, folderIconSize, folderIconSize));
    x += folderIconSize + headerSpacing;

    // While the folder is filtered: the matching images of the listed ones.
    const qint64 listed = index.data(SidebarListModel::GroupListedCountRole).toLongLong();
    const QString countText = listed >= 0
        ? localizedFormat("%lld / %lld", { QString::number(count), QString::number(listed) })
        : localizedFormat("%lld", { QString::number(count) });
    const QFont countFont = SidebarStyle::secondCaptionFont();
    const int countWidth = QFontMetrics(countFont).horizontalAdvance(countText);
    painter->setFont(countFont);
    painter->setPen(SidebarStyle::tertiaryColor(option.palette));
    painter->drawText(QRect(content.right() + 1 - countWidth, content.top(), countWidth, content.height()),
        Qt::AlignRight | Qt::AlignVCenter, countText);

    QFont nameFont = SidebarStyle::captionFont();
    nameFont.setWeight(QFont::DemiBold);
    const int nameWidth = std::max(0, content.right() + 1 - countWidth - headerSpacing - x);
    const QString name = QFontMetrics(nameFont).elidedText(m_rows->rowTitle(row), Qt::ElideMiddle, nameWidth);
    painter->setFont(nameFont);
    painter->setPen(option.palette.color(QPalette::WindowText));
    painter->drawText(QRect(x, content.top(), nameWidth, content.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
}

void ThumbnailDelegate::paintImageRow(
    QPainter* painter, const QStyleOptionViewItem& option, int row, const QRect& rowRect) const
{
    const QUrl& url = m_rows->rowURL(row);
    const bool isSelected = url == m_browser->currentImageURL();
    const bool isMultiSelected = m_browser->selectedURLs().contains(url);
    const double thumbnailSize = m_browser->thumbnailSize();
    painter->setRenderHint(QPainter::Antialiasing);

    const QRectF outline = QRectF(rowRect).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isSelected || isMultiSelected) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(
            SidebarStyle::accentColor(option.palette, isSelected ? currentRowOpacity : multiSelectedRowOpacity));
        painter->drawRoundedRect(rowRect, rowCornerRadius, rowCornerRadius);
    }
    if (isMultiSelected) {
        painter->setPen(QPen(SidebarStyle::accentColor(option.palette, multiSelectedOutlineOpacity), 1.0));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(outline, rowCornerRadius, rowCornerRadius);
    }

    const ImageRowParts parts = imageRowParts(rowRect);
    const QRect& frame = parts.thumbnail;
    const QImage thumbnail = m_thumbnails->thumbnail(url, thumbnailSize);
    if (!thumbnail.isNull()) {
        // The whole picture, fitted into the frame and centred.
        QSizeF fitted = QSizeF(thumbnail.size()).scaled(QSizeF(frame.size()), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(QRectF(frame).center());
        QPainterPath clip;
        clip.addRoundedRect(target, thumbnailCornerRadius, thumbnailCornerRadius);
        painter->save();
        painter->setClipPath(clip, Qt::IntersectClip);
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(target, thumbnail);
        painter->restore();
    }

    // Beside the thumbnail the name and dots are centred on its height and left-aligned; below
    // it they are centred on the row's width.
    const QRect& column = parts.name;
    const NameLayout& layout = nameLayout();
    const QStringList lines = layout.shownLines(m_rows->rowTitle(row), column.width(), maximumNameLines);
    const int blockHeight = nameBlockHeight(lines.size());
    const int top = parts.nameBelow ? column.top() : column.top() + std::max(0, (column.height() - blockHeight) / 2);
    const QFontMetrics metrics(layout.font());
    const auto leftFor = [&](int width) {
        return parts.nameBelow ? column.left() + std::max(0, (column.width() - width) / 2) : column.left();
    };
    painter->setFont(layout.font());
    painter->setPen(option.palette.color(QPalette::WindowText));
    int baseline = top + layout.ascent();
    for (const QString& line : lines) {
        painter->drawText(QPoint(leftFor(metrics.horizontalAdvance(line)), baseline), line);
        baseline += layout.lineSpacing();
    }

    const int dotsTop = top + int(lines.size()) * layout.lineSpacing() + nameToDotsSpacing;
    if (const auto tags = m_tagDots->tags(url)) {
        const int dotsWidth = TagDotsView::naturalSize(tags->size()).width();
        TagDotsView::paint(*painter, QPointF(leftFor(dotsWidth), dotsTop + TagDotsView::dotDiameter / 2.0), *tags);
    }
}

} // namespace limnoscope
