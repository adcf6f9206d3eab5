#include "TagDotsView.h"

#include <QPainter>

namespace limnoscope {

QSize TagDotsView::naturalSize(qsizetype dotCount)
{
    const int count = int(dotCount);
    const int width = count == 0 ? 0 : dotDiameter * count + dotSpacing * (count - 1);
    return { width, dotDiameter };
}

void TagDotsView::paint(QPainter& painter, QPointF leftCentre, const QList<FinderTag>& tags)
{
    if (tags.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal radius = dotDiameter / 2.0;
    QPointF centre = leftCentre + QPointF(radius, 0);
    for (const FinderTag tag : tags) {
        painter.setBrush(tagColor(tag));
        painter.drawEllipse(centre, radius, radius);
        centre.rx() += dotDiameter + dotSpacing;
    }
    painter.restore();
}

} // namespace limnoscope
