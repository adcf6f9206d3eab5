#pragma once

#include "AppContext.h"

#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;

namespace limnoscope {

// The application-wide keyboard map: the browsing keys of the action table (arrows step through
// the images, Space toggles Quick Look, Delete asks to move images to the Trash, Home and End
// jump) trigger their commands. It sees key presses before the focused widget, except while text
// editing has focus or a dialog or menu is up. GUI thread.
class KeyboardMap : public QObject
{
    Q_OBJECT

public:
    // Installs itself as an event filter of the application for key presses in `mainWindow`.
    KeyboardMap(const AppContext& context, QWidget* mainWindow, QObject* parent = nullptr);

    // Triggers the browsing command of `event` from the table of `context`. True when the key
    // was taken: a command that cannot act swallows its key too, so that the key moves nothing
    // behind it, except Space, which goes on (to a focused button) when there is nothing to show.
    static bool handle(const AppContext& context, const QKeyEvent* event);

    // True when text editing has the keyboard or a dialog or menu is up: the map stands aside.
    [[nodiscard]] static bool keyboardIsTaken();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppContext m_context;
    QPointer<QWidget> m_mainWindow;
};

} // namespace limnoscope
