#include "SettingsGrid.h"

#include "SectionFrame.h"
#include "ValueTextView.h"

#include <QGridLayout>
#include <QLabel>

namespace limnoscope {

SettingsGrid::SettingsGrid(QWidget* parent)
    : QWidget(parent)
    , m_grid(new QGridLayout(this))
{
    setObjectName(QStringLiteral("SettingsGrid"));
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setVerticalSpacing(rowSpacing);
    m_grid->setHorizontalSpacing(cellSpacing);
}

void SettingsGrid::addSetting(const QString& label, const QString& value)
{
    QLabel* name = secondaryLabel(label, this);
    name->setObjectName(QStringLiteral("SettingLabel"));
    name->setTextFormat(Qt::PlainText);
    auto* shown = new ValueTextView(value, ValueTextView::layoutFor(value), this);
    shown->setObjectName(QStringLiteral("SettingValue"));
    QFont medium = shown->font();
    medium.setWeight(QFont::Medium);
    medium.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    shown->setFont(medium);
    m_cells.append({ name, shown });
    place(m_cells.size() - 1);
    setLabelColumnWidths();
}

int SettingsGrid::labelColumnWidth(int column, int cellsPerRow) const
{
    int widest = labelMinimumWidth;
    for (qsizetype i = column; i < m_cells.size(); i += cellsPerRow) {
        const QLabel* label = m_cells.at(i).label;
        widest = std::max(widest, label->sizeHint().width() - label->contentsMargins().left());
    }
    return widest + (column > 0 ? cellGap() : 0);
}

int SettingsGrid::cellsPerRowFor(int width) const
{
    if (m_cells.size() < 2)
        return 1;
    // Side by side, a column's values need room for their longest word-free value (it would be
    // shortened otherwise) and for a few words of their wrapping ones.
    int need[2] = { 0, 0 };
    for (qsizetype i = 0; i < m_cells.size(); ++i) {
        const ValueTextView* value = m_cells.at(i).value;
        const int natural = value->naturalWidth();
        need[i % 2] = std::max(need[i % 2],
            value->textLayout() == ValueTextView::Layout::ElideMiddle ? natural
                                                                      : std::min(natural, minimumTwoColumnValueWidth));
    }
    const int room = width - labelColumnWidth(0, 2) - labelColumnWidth(1, 2) - 3 * cellSpacing;
    return need[0] + need[1] <= room ? 2 : 1;
}

QSize SettingsGrid::minimumSizeHint() const
{
    // What one cell to a row needs: the layout turns to that before it would squeeze two.
    int height = 0;
    for (const Cell& cell : m_cells)
        height += std::max(cell.label->minimumSizeHint().height(), cell.value->minimumSizeHint().height());
    height += rowSpacing * int(std::max<qsizetype>(m_cells.size() - 1, 0));
    int valueWidth = 0;
    for (const Cell& cell : m_cells)
        valueWidth = std::max(valueWidth, cell.value->minimumSizeHint().width());
    return { labelColumnWidth(0, 1) + cellSpacing + valueWidth, height };
}

void SettingsGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int wanted = cellsPerRowFor(width());
    if (wanted != m_cellsPerRow)
        arrange(wanted);
}

void SettingsGrid::arrange(int cellsPerRow)
{
    m_cellsPerRow = cellsPerRow;
    for (const Cell& cell : std::as_const(m_cells)) {
        m_grid->removeWidget(cell.label);
        m_grid->removeWidget(cell.value);
    }
    for (qsizetype i = 0; i < m_cells.size(); ++i)
        place(i);
    setLabelColumnWidths();
}

void SettingsGrid::place(qsizetype index)
{
    // Columns: label, value, label, value; the values share what the labels leave, the longer
    // ones taking more. The second cell's label keeps the wider gap between cells as its margin.
    const int row = int(index / m_cellsPerRow);
    const int column = int(index % m_cellsPerRow) * 2;
    QLabel* label = m_cells.at(index).label;
    label->setContentsMargins(column > 0 ? cellGap() : 0, 0, 0, 0);
    m_grid->addWidget(label, row, column, Qt::AlignLeft | Qt::AlignTop);
    // Beside another cell a word-free value is never shortened: it chose the two columns.
    ValueTextView* value = m_cells.at(index).value;
    const bool keepWhole = m_cellsPerRow == 2 && value->textLayout() == ValueTextView::Layout::ElideMiddle;
    value->setMinimumWidth(keepWhole ? value->naturalWidth() : 0);
    m_grid->addWidget(value, row, column + 1);
}

void SettingsGrid::setLabelColumnWidths()
{
    // A label column never gives way: the values take what room is left.
    m_grid->setColumnMinimumWidth(0, labelColumnWidth(0, m_cellsPerRow));
    m_grid->setColumnMinimumWidth(2, m_cellsPerRow == 2 ? labelColumnWidth(1, 2) : 0);
}

} // namespace limnoscope
