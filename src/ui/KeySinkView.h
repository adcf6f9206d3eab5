#pragma once

#include <QPointer>
#include <QWidget>

namespace limnoscope {

class ImageBrowserModel;

// An invisible focus widget behind the main window's panes that takes key presses when nothing
// else has focus, so that the keyboard drives browsing. GUI thread.
class KeySinkView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int refocusDelayMs = 100;

    explicit KeySinkView(ImageBrowserModel *model, QWidget *parent = nullptr);

    // The most recently attached key sink, or null once it is gone.
    [[nodiscard]] static KeySinkView *current();
    // Gives the current key sink keyboard focus in its window; nothing without one.
    static void restoreFocus();
    // The same, `refocusDelayMs` later on the GUI thread.
    static void restoreFocusSoon();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    ImageBrowserModel *m_model;
};

} // namespace limnoscope
