#include "KeyboardMap.h"

#include "ActionTable.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace limnoscope {

KeyboardMap::KeyboardMap(const AppContext& context, QWidget* mainWindow, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_mainWindow(mainWindow)
{
    qApp->installEventFilter(this);
}

bool KeyboardMap::handle(const AppContext& context, const QKeyEvent* event)
{
    if (!context.actions)
        return false;
    const std::optional<ActionTable::Command> command = context.actions->commandForKey(event);
    if (!command || !context.actions->isBrowsingKeyCommand(*command))
        return false; // Qt fires the other shortcuts itself
    QAction* action = context.actions->action(*command);
    if (!action->isEnabled())
        return *command != ActionTable::Command::quickLook;
    action->trigger();
    return true;
}

bool KeyboardMap::keyboardIsTaken()
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return true;
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return false;
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        return !line->isReadOnly();
    if (auto* text = qobject_cast<QTextEdit*>(focus))
        return !text->isReadOnly();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        return !plain->isReadOnly();
    if (auto* combo = qobject_cast<QComboBox*>(focus))
        return combo->isEditable();
    return qobject_cast<QAbstractSpinBox*>(focus) != nullptr;
}

bool KeyboardMap::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !m_mainWindow)
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != m_mainWindow || !m_mainWindow->isActiveWindow() || keyboardIsTaken())
        return false;
    return handle(m_context, static_cast<QKeyEvent*>(event));
}

} // namespace limnoscope
