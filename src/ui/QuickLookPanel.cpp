#include "QuickLookPanel.h"

#include "AppNotifications.h"
#include "DecodeDownsampled.h"
#include "ImageBrowserModel.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace limnoscope {

QuickLookPanel::QuickLookPanel(ImageBrowserModel* model, AppNotifications* notifications, QWidget* owner)
    : QWidget(owner, Qt::Window)
    , m_model(model)
    , m_notifications(notifications)
    , m_view(new QLabel(this))
{
    setObjectName(QStringLiteral("QuickLookPanel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_view->setAlignment(Qt::AlignCenter);
    m_view->setMinimumSize(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setStyleSheet(QStringLiteral("QuickLookPanel { background: #1e1e1e; }"));
}

QuickLookPanel::~QuickLookPanel() = default;

void QuickLookPanel::present()
{
    load(m_model->currentImageURL());
    if (!isVisible()) {
        const QRect available = (screen() ? screen() : QGuiApplication::primaryScreen())->availableGeometry();
        resize((QSizeF(available.size()) * screenShare).toSize());
        move(available.center() - rect().center());
    }
    show();
    raise();
    activateWindow();
}

void QuickLookPanel::toggle()
{
    if (isVisible())
        close();
    else
        present();
}

void QuickLookPanel::refresh()
{
    if (isVisible())
        load(m_model->currentImageURL());
}

void QuickLookPanel::load(const QUrl& url)
{
    m_url = url;
    setWindowTitle(url.fileName());
    const quint64 loadID = ++m_loadID;
    if (url.isEmpty()) {
        showImage({});
        return;
    }
    const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSizeF screenSize = QSizeF(display->availableGeometry().size()) * display->devicePixelRatio();
    const int maxPixelSize = int(std::max(screenSize.width(), screenSize.height()));
    QPointer<QuickLookPanel> self(this);
    auto decoded = QtConcurrent::run([url, maxPixelSize] { return decodeDownsampled(url, maxPixelSize); });
    // Continued on the application object: this panel may be destroyed while the decode runs.
    decoded.then(qApp, [self, loadID](const QImage& image) {
        // A later load replaced this one: its image is never shown.
        if (self && self->m_loadID == loadID)
            self->showImage(image);
    });
}

void QuickLookPanel::showImage(const QImage& image)
{
    m_image = image;
    if (image.isNull()) {
        m_view->clear();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap
        = QPixmap::fromImage(image.scaled(m_view->size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    m_view->setPixmap(pixmap);
}

void QuickLookPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    showImage(m_image);
}

void QuickLookPanel::postDeleteLater(bool immediately)
{
    close();
    ImageBrowserModel* model = m_model;
    QPointer<QuickLookPanel> self(this);
    QTimer::singleShot(deleteDelayMs, m_notifications, [self, model, notifications = m_notifications, immediately] {
        if (immediately) {
            if (self)
                emit self->deleteImmediatelyRequested();
        } else if (!model->selectedURLs().isEmpty()) // chosen when the delay has passed
            emit notifications->deleteSelectedImages();
        else
            emit notifications->deleteCurrentImage();
    });
}

void QuickLookPanel::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        m_model->previousImage();
        refresh();
        return;
    case Qt::Key_Right:
    case Qt::Key_Down:
        m_model->nextImage();
        refresh();
        return;
    case Qt::Key_Delete:
        postDeleteLater(modifiers.testFlag(Qt::ShiftModifier));
        return;
    case Qt::Key_Backspace:
        if (modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier)) {
            postDeleteLater(false);
            return;
        }
        break;
    case Qt::Key_Space:
    case Qt::Key_Escape:
        close();
        return;
    default:
        break;
    }
    QWidget::keyPressEvent(event);
}

} // namespace limnoscope
