#pragma once

#include <QFrame>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;

namespace limnoscope {

// A framed inspector section: a header row with an icon and a title, room for buttons on the
// right (under the title when the panel is narrow), a divider, then the section's content.
// GUI thread.
class SectionFrame : public QFrame
{
    Q_OBJECT

public:
    static constexpr int rowSpacing = 10;
    static constexpr int innerMargin = 4;

    SectionFrame(const QString& title, const char* iconName, QWidget* parent = nullptr);

    // Buttons go at the right end of the header, in the order added.
    void addHeaderWidget(QWidget* widget);
    [[nodiscard]] QVBoxLayout* contentLayout() const { return m_content; }
    // The line between header and content; a collapsed section hides it.
    [[nodiscard]] QFrame* divider() const { return m_divider; }
    // Whether the panel is too narrow for title and buttons on one row.
    [[nodiscard]] bool buttonsBelowTitle() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void arrangeHeader();

    QGridLayout* m_header;
    QWidget* m_title;
    QWidget* m_buttons;
    QHBoxLayout* m_buttonRow;
    QVBoxLayout* m_content;
    QFrame* m_divider;
};

// A divider line across a section.
[[nodiscard]] QFrame* makeDivider(QWidget* parent);
// A label in the secondary text colour: setting names, notes, the Compare page's captions.
[[nodiscard]] QLabel* secondaryLabel(const QString& text, QWidget* parent);

} // namespace limnoscope
