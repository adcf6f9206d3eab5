#include "KeySinkView.h"

#include "ActionTable.h"
#include "KeyboardMap.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
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
    if (m_pendingRestores++ == 0)
        qApp->installEventFilter(this);
    QTimer::singleShot(delay, this, [this, movesBefore = m_userFocusMoves] {
        if (--m_pendingRestores == 0)
            qApp->removeEventFilter(this);
        // Where the user has put the keyboard since (Ctrl+F or a click right after a folder
        // opened) it stays; focus that moved by itself (a removed row's) is taken back.
        if (m_userFocusMoves == movesBefore)
            setFocus(Qt::OtherFocusReason);
    });
}

bool KeySinkView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && watched != this) {
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            ++m_userFocusMoves;
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
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
    const std::optional<ActionTable::Command> command
        = m_context.actions ? m_context.actions->commandForKey(event) : std::nullopt;
    if (!command || !m_context.actions->isBrowsingKeyCommand(*command) || event->key() == Qt::Key_Return
        || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape || KeyboardMap::keyboardIsTaken()) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A command that cannot act (Space with no current image) is still swallowed here.
    if (QAction* action = m_context.actions->action(*command); action->isEnabled())
        action->trigger();
    if (*command == ActionTable::Command::first || *command == ActionTable::Command::last)
        restoreFocusSoon();
    event->accept();
}

} // namespace limnoscope
