#pragma once

#include "AppContext.h"

#include <QWidget>

#include <chrono>

namespace limnoscope {

// An invisible focus widget behind the main window's panes that takes key presses when nothing
// else has focus, so that the keyboard drives browsing. GUI thread.
class KeySinkView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int refocusDelayMs = 100;

    explicit KeySinkView(const AppContext& context, QWidget* parent = nullptr);

    // Takes keyboard focus in its window, `delay` later on the GUI thread.
    void restoreFocusSoon(std::chrono::milliseconds delay = std::chrono::milliseconds(refocusDelayMs));

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    AppContext m_context;
};

} // namespace limnoscope
