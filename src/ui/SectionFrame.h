#pragma once

#include <QFrame>

class QHBoxLayout;
class QVBoxLayout;

namespace limnoscope {

// A framed inspector section: a header row with an icon and a title, room for buttons on the
// right, a divider, then the section's content. GUI thread.
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

private:
    QHBoxLayout* m_header;
    QVBoxLayout* m_content;
    QFrame* m_divider;
};

// A divider line across a section.
[[nodiscard]] QFrame* makeDivider(QWidget* parent);

} // namespace limnoscope
