#include "KeySinkView.h"

#include "KeyboardMap.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

namespace limnoscope {

KeySinkView::KeySinkView(const AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_context(context)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
}

void KeySinkView::restoreFocusSoon(std::chrono::milliseconds delay)
{
    QTimer::singleShot(delay, this, [this] { setFocus(Qt::OtherFocusReason); });
}

void KeySinkView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A widget that already has focus keeps it.
    QTimer::singleShot(0, this, [this] {
        if (!window()->focusWidget())
            setFocus(Qt::OtherFocusReason);
    });
}

void KeySinkView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void KeySinkView::keyPressEvent(QKeyEvent* event)
{
    // Return and Escape go on to the parent; the browsing keys act here too (the application
    // map has already seen them unless a dialog or text field had the keyboard).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        QWidget::keyPressEvent(event);
        return;
    }
    const KeyboardMap::Action action = KeyboardMap::actionFor(event);
    if (action == KeyboardMap::Action::None || KeyboardMap::keyboardIsTaken()) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Space with no current image does nothing here, but is still swallowed.
    KeyboardMap::perform(m_context, action);
    if (action == KeyboardMap::Action::First || action == KeyboardMap::Action::Last)
        restoreFocusSoon();
    event->accept();
}

} // namespace limnoscope
