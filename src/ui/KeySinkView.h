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

    // Takes keyboard focus in its window, `delay` later on the GUI thread, unless the user has
    // moved it in the meantime (a click, Tab or a shortcut such as Ctrl+F).
    void restoreFocusSoon(std::chrono::milliseconds delay = std::chrono::milliseconds(refocusDelayMs));

protected:
    // While a restore is pending: counts focus moves the user made.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    AppContext m_context;
    int m_pendingRestores = 0;
    quint64 m_userFocusMoves = 0;
};

} // namespace limnoscope
