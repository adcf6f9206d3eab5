#pragma once

#include "AppContext.h"

#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;

namespace limnoscope {

// The application-wide keyboard map: arrows step through the images, Space toggles Quick Look,
// Delete asks to move images to the Trash, Home and End jump. It sees key presses before the
// focused widget, except while text editing has focus or a dialog or menu is up. GUI thread.
class KeyboardMap : public QObject
{
    Q_OBJECT

public:
    enum class Action {
        None,
        Next,
        Previous,
        ToggleQuickLook,
        DeleteCurrentOrSelection,
        DeleteImmediately,
        First,
        Last
    };
    Q_ENUM(Action)

    // Installs itself as an event filter of the application for key presses in `mainWindow`.
    KeyboardMap(const AppContext& context, QWidget* mainWindow, QObject* parent = nullptr);

    // What a key press asks for: Right/Down next, Left/Up previous, Space Quick Look, Delete or
    // Ctrl+Backspace delete (with confirmation), Shift+Delete delete at once, (Ctrl+)Home and
    // (Ctrl+)End first and last. Other keys: None.
    [[nodiscard]] static Action actionFor(const QKeyEvent* event);

    // Carries out `action`; false when it did nothing and the key should go on (Space with no
    // current image).
    static bool perform(const AppContext& context, Action action);

    // True when text editing has the keyboard or a dialog or menu is up: the map stands aside.
    [[nodiscard]] static bool keyboardIsTaken();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppContext m_context;
    QPointer<QWidget> m_mainWindow;
};

} // namespace limnoscope
