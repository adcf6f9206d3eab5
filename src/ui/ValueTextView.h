#pragma once

#include <QTextEdit>

namespace limnoscope {

// A read-only, mouse-selectable text of the inspector that never asks for more width than it is
// given: either wrapped (at spaces, or anywhere when one word is longer than the line) or kept on
// one line and shortened in the middle ("abc…xyz"), with the whole text in the tooltip. Copying a
// shortened text (Ctrl+C, the context menu) always gives the whole text. Keys other than copy and
// select-all go on to the window, so browsing keys keep working after a click into the text.
// GUI thread.
class ValueTextView : public QTextEdit
{
    Q_OBJECT

public:
    enum class Layout {
        Wrap,
        ElideMiddle,
    };
    Q_ENUM(Layout)

    ValueTextView(const QString& text, Layout layout, QWidget* parent = nullptr);

    // A value of one word (a hash, a path, JSON without spaces) is shortened, anything else wraps.
    [[nodiscard]] static Layout layoutFor(const QString& text);

    [[nodiscard]] const QString& fullText() const { return m_text; }
    [[nodiscard]] Layout textLayout() const { return m_layout; }
    [[nodiscard]] bool isElided() const { return m_elided; }
    // The width of the text's widest line, unwrapped and unshortened.
    [[nodiscard]] int naturalWidth() const;

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    [[nodiscard]] QMimeData* createMimeDataFromSelection() const override;

private:
    void updateShownText();

    QString m_text;
    Layout m_layout;
    bool m_elided = false;
    QTextDocument* m_measure; // the text laid out at the width asked for in heightForWidth
    mutable QPair<int, int> m_lastHeightForWidth { -1, 0 };
    mutable int m_naturalWidth = -1;
};

} // namespace limnoscope
