#include "QuickLookPanel.h"

#include "ActionTable.h"
#include "AppNotifications.h"
#include "DecodeDownsampled.h"
#include "ImageBrowserModel.h"
#include "LocalizedText.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace limnoscope {

QuickLookPanel::QuickLookPanel(
    ImageBrowserModel* model, AppNotifications* notifications, const ActionTable* actions, QWidget* owner)
    : QWidget(owner, Qt::Window)
    , m_model(model)
    , m_notifications(notifications)
    , m_actions(actions)
    , m_view(new QLabel(this))
    , m_name(new QLabel(this))
    , m_position(new QLabel(this))
{
    setObjectName(QStringLiteral("QuickLookPanel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_view->setAlignment(Qt::AlignCenter);
    m_view->setMinimumSize(1, 1);
    m_name->setObjectName(QStringLiteral("QuickLookName"));
    m_name->setTextFormat(Qt::PlainText);
    m_name->setMinimumWidth(1);
    m_position->setObjectName(QStringLiteral("QuickLookPosition"));
    auto* caption = new QHBoxLayout;
    caption->setContentsMargins(captionMargin, captionMargin / 2, captionMargin, captionMargin);
    caption->addWidget(m_name, 1);
    caption->addWidget(m_position);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addLayout(caption);
    // A dark backdrop whatever the desktop's colours, as image viewers have.
    QPalette dark = palette();
    dark.setColor(QPalette::Window, backdropColor);
    dark.setColor(QPalette::WindowText, captionColor);
    setPalette(dark);
    setAutoFillBackground(true);
    dark.setColor(QPalette::WindowText, captionColor.darker(140));
    m_position->setPalette(dark);
    connect(model, &ImageBrowserModel::currentImageURLChanged, this, &QuickLookPanel::refresh);
    connect(model, &ImageBrowserModel::flatURLsChanged, this, &QuickLookPanel::updateCaption);
    connect(model, &ImageBrowserModel::currentIndexChanged, this, &QuickLookPanel::updateCaption);
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
    if (isVisible() && m_model->currentImageURL() != m_url)
        load(m_model->currentImageURL());
}

QString QuickLookPanel::captionText() const
{
    return m_name->text() + u' ' + m_position->text();
}

void QuickLookPanel::updateCaption()
{
    m_name->setText(m_url.fileName());
    const qint64 position = m_model->flatURLs().indexOf(m_url);
    m_position->setText(position < 0
            ? QString()
            : localizedFormat(
                "%lld / %lld", { QString::number(position + 1), QString::number(m_model->flatURLs().size()) }));
}

void QuickLookPanel::load(const QUrl& url)
{
    m_url = url;
    setWindowTitle(url.fileName());
    updateCaption();
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
    using Command = ActionTable::Command;
    const std::optional<Command> command = m_actions ? m_actions->commandForKey(event) : std::nullopt;
    if (event->key() == Qt::Key_Escape || command == Command::quickLook) {
        close();
        return;
    }
    if (command == Command::moveToTrash || command == Command::moveToTrashWithoutAsking) {
        postDeleteLater(command == Command::moveToTrashWithoutAsking);
        return;
    }
    // The commands that act on the image on screen: stepping, tags, copies.
    static constexpr Command onShownImage[]
        = { Command::previous, Command::next, Command::first, Command::last, Command::tagRed, Command::tagOrange,
              Command::tagYellow, Command::tagGreen, Command::tagBlue, Command::tagPurple, Command::tagGray,
              Command::removeAllTags, Command::copyPrompt, Command::copyNegativePrompt, Command::copySettingsJSON };
    if (command && std::find(std::begin(onShownImage), std::end(onShownImage), *command) != std::end(onShownImage)) {
        m_actions->action(*command)->trigger(); // a disabled one does nothing
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace limnoscope
