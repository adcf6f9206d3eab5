#pragma once

#include <QList>
#include <QWidget>

class QGridLayout;
class QLabel;

namespace limnoscope {

class ValueTextView;

// The settings of the inspector as label and value cells, two cells to a row, filled row by row.
// In each of the two columns the labels are as wide as the widest label of that column, so that
// the column's values start at one x. Two cells share a row only where every word-free value (a
// model file, a hash) fits whole and wrapping values keep `minimumTwoColumnValueWidth`; in a
// narrower panel each cell gets a row of its own. GUI thread.
class SettingsGrid : public QWidget
{
    Q_OBJECT

public:
    static constexpr int labelMinimumWidth = 90;
    static constexpr int rowSpacing = 8;
    static constexpr int cellSpacing = 6;
    static constexpr int minimumTwoColumnValueWidth = 120;

    explicit SettingsGrid(QWidget* parent = nullptr);

    void addSetting(const QString& label, const QString& value);

    [[nodiscard]] int cellsPerRow() const { return m_cellsPerRow; }
    [[nodiscard]] qsizetype count() const { return m_cells.size(); }
    [[nodiscard]] QLabel* labelAt(qsizetype index) const { return m_cells.at(index).label; }
    [[nodiscard]] ValueTextView* valueAt(qsizetype index) const { return m_cells.at(index).value; }

    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Cell {
        QLabel* label;
        ValueTextView* value;
    };

    // The second cell of a row starts this much further from the first cell's value.
    [[nodiscard]] static constexpr int cellGap() { return cellSpacing; }
    [[nodiscard]] int labelColumnWidth(int column, int cellsPerRow) const;
    [[nodiscard]] int cellsPerRowFor(int width) const;
    // Lays all cells out anew, `cellsPerRow` to a row.
    void arrange(int cellsPerRow);
    // Puts the cell at `index` in its row and column.
    void place(qsizetype index);
    void setLabelColumnWidths();

    QGridLayout* m_grid;
    QList<Cell> m_cells;
    int m_cellsPerRow = 2;
};

} // namespace limnoscope
