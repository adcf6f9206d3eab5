#include "KeySinkView.h"

#include "KeyboardMap.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>

namespace limnoscope {
namespace {
QPointer<KeySinkView> currentKeySink;
}

KeySinkView::KeySinkView(ImageBrowserModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    currentKeySink = this;
}

KeySinkView *KeySinkView::current()
{
    return currentKeySink;
}

void KeySinkView::restoreFocus()
{
    if (KeySinkView *sink = currentKeySink)
        sink->setFocus(Qt::OtherFocusReason);
}

void KeySinkView::restoreFocusSoon()
{
    QTimer::singleShot(refocusDelayMs, qApp, &KeySinkView::restoreFocus);
}

void KeySinkView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    currentKeySink = this;
    // A widget that already has focus keeps it.
    QTimer::singleShot(0, this, [this] {
        if (!window()->focusWidget())
            setFocus(Qt::OtherFocusReason);
    });
}

void KeySinkView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    QWidget::mousePressEvent(event);
}

void KeySinkView::keyPressEvent(QKeyEvent *event)
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
    KeyboardMap::perform(m_model, action);
    if (action == KeyboardMap::Action::First || action == KeyboardMap::Action::Last)
        restoreFocusSoon();
    event->accept();
}

} // namespace limnoscope
