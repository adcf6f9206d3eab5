#pragma once

#include "FinderTag.h"

#include <QList>
#include <QPointF>
#include <QSize>

class QPainter;

namespace limnoscope {

// A file's colour tags as a row of small dots in the tags' colours, in the order the file lists
// them, left-aligned and centred vertically. Painted by the sidebar's delegate into each image
// row; stateless. GUI thread.
class TagDotsView
{
public:
    static constexpr int dotDiameter = 8;
    static constexpr int dotSpacing = 3;

    // 8·n + 3·(n − 1) wide for n dots (0 without any), always 8 high.
    [[nodiscard]] static QSize naturalSize(qsizetype dotCount);

    // Paints the dots with the left end of their centre line at `leftCentre`.
    static void paint(QPainter& painter, QPointF leftCentre, const QList<FinderTag>& tags);
};

} // namespace limnoscope
