#include "KeyboardMap.h"

#include "AppNotifications.h"
#include "ImageBrowserModel.h"
#include "QuickLookPanel.h"

#include <QAbstractSpinBox>
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

KeyboardMap::Action KeyboardMap::actionFor(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
        return Action::Next;
    case Qt::Key_Left:
    case Qt::Key_Up:
        return Action::Previous;
    case Qt::Key_Space:
        return Action::ToggleQuickLook;
    case Qt::Key_Delete:
        return modifiers.testFlag(Qt::ShiftModifier) ? Action::DeleteImmediately : Action::DeleteCurrentOrSelection;
    case Qt::Key_Backspace:
        // Ctrl+Alt+Backspace stays free: desktops reserve it.
        if (modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier))
            return Action::DeleteCurrentOrSelection;
        return Action::None;
    case Qt::Key_Home:
        return Action::First;
    case Qt::Key_End:
        return Action::Last;
    default:
        return Action::None;
    }
}

bool KeyboardMap::perform(const AppContext& context, Action action)
{
    ImageBrowserModel* model = context.model;
    QuickLookPanel* quickLook = context.quickLook;
    const auto refreshQuickLook = [quickLook] {
        if (quickLook)
            quickLook->refresh();
    };
    switch (action) {
    case Action::None:
        return false;
    case Action::Next:
        model->nextImage();
        refreshQuickLook();
        return true;
    case Action::Previous:
        model->previousImage();
        refreshQuickLook();
        return true;
    case Action::ToggleQuickLook:
        if (model->currentImageURL().isEmpty())
            return false;
        if (quickLook)
            quickLook->toggle();
        return true;
    case Action::DeleteCurrentOrSelection:
        if (quickLook)
            quickLook->close();
        if (!model->selectedURLs().isEmpty())
            emit context.notifications->deleteSelectedImages();
        else
            emit context.notifications->deleteCurrentImage();
        return true;
    case Action::DeleteImmediately:
        emit context.notifications->deleteImmediately();
        return true;
    case Action::First:
        model->setSelectedURLs({});
        model->selectImage(0);
        refreshQuickLook();
        return true;
    case Action::Last:
        model->setSelectedURLs({});
        model->selectImage(model->flatURLs().size() - 1);
        refreshQuickLook();
        return true;
    }
    return false;
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
    const Action action = actionFor(static_cast<QKeyEvent*>(event));
    return perform(m_context, action);
}

} // namespace limnoscope
