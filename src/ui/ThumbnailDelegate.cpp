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

QRect ThumbnailDelegate::thumbnailFrame(const QRect& rowRect, double thumbnailSize)
{
    return { rowRect.left() + contentHorizontalPadding, rowRect.top() + contentVerticalPadding, int(thumbnailSize),
        int(std::lround(thumbnailSize * thumbnailHeightRatio)) };
}

QRect ThumbnailDelegate::nameColumn(const QRect& rowRect, double thumbnailSize)
{
    const QRect frame = thumbnailFrame(rowRect, thumbnailSize);
    const int left = frame.right() + 1 + thumbnailToNameSpacing;
    const int right = rowRect.right() + 1 - contentHorizontalPadding;
    return { left, frame.top(), std::max(1, right - left),
        rowRect.bottom() + 1 - contentVerticalPadding - frame.top() };
}

const NameLayout& ThumbnailDelegate::nameLayout() const
{
    if (!m_nameLayout)
        m_nameLayout.emplace(SidebarStyle::captionFont());
    return *m_nameLayout;
}

int ThumbnailDelegate::nameColumnWidth() const
{
    const int itemWidth = m_view ? m_view->viewport()->width() : 0;
    return nameColumn(imageRowRect(QRect(0, 0, itemWidth, 1), false, false), m_browser->thumbnailSize()).width();
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

    const NameLayout& layout = nameLayout();
    const qsizetype lineCount = layout.lines(m_rows->rowTitle(row), nameColumnWidth()).size();
    const int textHeight = int(lineCount) * layout.lineSpacing() + nameToDotsSpacing + TagDotsView::dotDiameter;
    const int thumbnailHeight = int(std::lround(thumbnailSize * thumbnailHeightRatio));
    const int height = contentVerticalPadding + std::max(thumbnailHeight, textHeight) + contentVerticalPadding;
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

    const QRect frame = thumbnailFrame(rowRect, thumbnailSize);
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

    const QRect column = nameColumn(rowRect, thumbnailSize);
    const NameLayout& layout = nameLayout();
    const QString title = m_rows->rowTitle(row);
    const NameLayout::Lines lines = layout.lines(title, column.width());
    painter->setFont(layout.font());
    painter->setPen(option.palette.color(QPalette::WindowText));
    int baseline = column.top() + layout.ascent();
    for (const NameLayout::Line& line : lines) {
        painter->drawText(QPoint(column.left(), baseline), title.mid(line.start, line.length));
        baseline += layout.lineSpacing();
    }

    const int dotsTop = column.top() + int(lines.size()) * layout.lineSpacing() + nameToDotsSpacing;
    if (const auto tags = m_tagDots->tags(url))
        TagDotsView::paint(*painter, QPointF(column.left(), dotsTop + TagDotsView::dotDiameter / 2.0), *tags);
}

} // namespace limnoscope
