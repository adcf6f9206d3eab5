#include "SidebarView.h"

#include "AppNotifications.h"
#include "ElidedLabel.h"
#include "Icons.h"
#include "ImageBrowserModel.h"
#include "ImageListView.h"
#include "LimnoraAPI.h"
#include "LocalizedText.h"
#include "SidebarStyle.h"
#include "SortMenuButton.h"

#include <QBoxLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace limnoscope {
namespace {

constexpr int headerHorizontalPadding = 10;
constexpr int headerVerticalPadding = 7;
constexpr int headerIconSize = 12;
constexpr int filterRowHorizontalPadding = 8;
constexpr int filterRowBottomPadding = 6;
constexpr int sizeRowHorizontalPadding = 10;
constexpr int sizeRowBottomPadding = 6;
constexpr int smallPhotoIconSize = 9;
constexpr int largePhotoIconSize = 13;
constexpr int emptyStatePadding = 12;
constexpr int emptyStateIconSize = 34;
constexpr int emptyStateSpacing = 8;
constexpr int statusHorizontalPadding = 8;
constexpr int statusTopPadding = 4;
constexpr int navigationHorizontalPadding = 12;
constexpr int navigationVerticalPadding = 5;
constexpr int navigationIconSize = 12;
constexpr int prefetchBarWidth = 64;
constexpr int prefetchBarHeight = 3;
// Icons in the secondary and tertiary styles.
constexpr double secondaryIconOpacity = 0.6;
constexpr double tertiaryIconOpacity = 0.35;

// The icon drawn at `size` points with `opacity`, for a label.
QPixmap fadedIcon(const char* symbolName, int size, double opacity, qreal pixelRatio)
{
    const QPixmap source = symbolIcon(symbolName).pixmap(QSize(size, size), pixelRatio);
    QPixmap faded(source.size());
    faded.setDevicePixelRatio(source.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(opacity);
    painter.drawPixmap(0, 0, source);
    return faded;
}

QLabel* iconLabel(const char* symbolName, int size, double opacity, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(fadedIcon(symbolName, size, opacity, parent->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, SidebarStyle::tertiaryColor(palette));
    line->setPalette(palette);
    return line;
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QToolButton* borderlessButton(const char* symbolName, int iconSize, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(symbolIcon(symbolName));
    button->setIconSize(QSize(iconSize, iconSize));
    return button;
}

} // namespace

SidebarView::SidebarView(const AppContext& context, QWidget* parent)
    : QWidget(parent)
    , m_model(context.model)
    , m_api(context.api)
    , m_notifications(context.notifications)
{
    ImageBrowserModel* model = context.model;
    LimnoraAPIService* api = context.api;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addWidget(makeFilterRow());
    layout->addWidget(makeSizeRow());
    layout->addWidget(divider(this));

    m_pages = new QStackedWidget(this);
    m_emptyState = makeEmptyState();
    m_pages->addWidget(m_emptyState);
    m_listPage = new QWidget(m_pages);
    auto* listLayout = new QVBoxLayout(m_listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    m_list = new ImageListView(context, m_listPage);
    m_list->setObjectName(QStringLiteral("imageList"));
    listLayout->addWidget(m_list, 1);
    listLayout->addWidget(makeFooter());
    m_pages->addWidget(m_listPage);
    layout->addWidget(m_pages, 1);

    connect(model, &ImageBrowserModel::rootFolderURLChanged, this, &SidebarView::showFolder);
    connect(model, &ImageBrowserModel::rootFolderURLChanged, this, &SidebarView::showFolderIcon);
    connect(model, &ImageBrowserModel::groupsChanged, this, &SidebarView::showGroups);
    connect(model, &ImageBrowserModel::groupsChanged, this, &SidebarView::showFolder);
    connect(model, &ImageBrowserModel::flatURLsChanged, this, &SidebarView::showFolder);
    connect(model, &ImageBrowserModel::thumbnailSizeChanged, this, &SidebarView::showThumbnailSize);
    connect(model, &ImageBrowserModel::currentIndexChanged, this, &SidebarView::showPosition);
    connect(model, &ImageBrowserModel::flatURLsChanged, this, &SidebarView::showPosition);
    connect(model, &ImageBrowserModel::isPrefetchingChanged, this, &SidebarView::showPrefetchProgress);
    connect(model, &ImageBrowserModel::prefetchProgressChanged, this, &SidebarView::showPrefetchProgress);
    connect(model, &ImageBrowserModel::skippedNameCountChanged, this, &SidebarView::showSkippedNames);
    connect(model, &ImageBrowserModel::filterChanged, this, &SidebarView::showFilter);
    connect(model, &ImageBrowserModel::filterChanged, this, &SidebarView::showGroups);
    connect(model, &ImageBrowserModel::filterChanged, this, &SidebarView::showPosition);
    connect(api, &LimnoraAPIService::isAvailableChanged, this, &SidebarView::showAPIStatus);
    showFolder();
    showFolderIcon();
    showGroups();
    showThumbnailSize();
    showAPIStatus();
    showPosition();
    showPrefetchProgress();
    showSkippedNames();
    showFilter();
}

int SidebarView::sliderPosition(double size)
{
    const double clamped = std::clamp(size, double(minimumThumbnailSize), double(maximumThumbnailSize));
    return int(std::lround((clamped - minimumThumbnailSize) / thumbnailSizeStep));
}

double SidebarView::thumbnailSizeAt(int sliderPosition)
{
    return minimumThumbnailSize + double(sliderPosition) * thumbnailSizeStep;
}

QWidget* SidebarView::makeHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(
        headerHorizontalPadding, headerVerticalPadding, headerHorizontalPadding, headerVerticalPadding);
    row->setSpacing(6);
    m_folderIcon = iconLabel("folder.fill", headerIconSize, secondaryIconOpacity, header);
    m_folderName = new ElidedLabel(header);
    m_folderName->setObjectName(QStringLiteral("folderName"));
    m_folderName->setFont(SidebarStyle::captionFont());
    setTextColour(m_folderName, SidebarStyle::secondaryColor(palette()));
    m_noFolder = new QLabel(qtTrId("no_folder_selected"), header);
    m_noFolder->setObjectName(QStringLiteral("noFolderSelected"));
    m_noFolder->setFont(SidebarStyle::captionFont());
    setTextColour(m_noFolder, SidebarStyle::tertiaryColor(palette()));
    row->addWidget(m_folderIcon);
    row->addWidget(m_folderName, 1);
    row->addWidget(m_noFolder, 1);

    auto* sortButton = new SortMenuButton(m_model, header);
    sortButton->setObjectName(QStringLiteral("sortMenuButton"));
    row->addWidget(sortButton);
    QToolButton* openButton = borderlessButton("folder.badge.plus", 16, header);
    openButton->setObjectName(QStringLiteral("openFolderButton"));
    openButton->setToolTip(qtTrId("open_folder_tooltip"));
    connect(openButton, &QToolButton::clicked, this, &SidebarView::openFolderRequested);
    row->addWidget(openButton);
    return header;
}

QWidget* SidebarView::makeFilterRow()
{
    auto* filterRow = new QWidget(this);
    auto* column = new QVBoxLayout(filterRow);
    column->setContentsMargins(filterRowHorizontalPadding, 0, filterRowHorizontalPadding, filterRowBottomPadding);
    column->setSpacing(2);
    m_filterField = new QLineEdit(filterRow);
    m_filterField->setObjectName(QStringLiteral("filterField"));
    m_filterField->setPlaceholderText(qtTrId("filter_placeholder"));
    m_filterField->setToolTip(qtTrId("filter_tooltip"));
    m_filterField->setClearButtonEnabled(true);
    m_filterField->setFont(SidebarStyle::captionFont());
    m_filterField->installEventFilter(this);
    column->addWidget(m_filterField);
    m_filterStatus = new QLabel(filterRow);
    m_filterStatus->setObjectName(QStringLiteral("filterStatus"));
    m_filterStatus->setFont(SidebarStyle::statusFont());
    m_filterStatus->setWordWrap(true);
    column->addWidget(m_filterStatus);

    // Typing filters once it pauses; the clear button and Return filter at once.
    m_filterDelay = new QTimer(this);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(filterDelayMs);
    connect(m_filterDelay, &QTimer::timeout, this, &SidebarView::applyFilterText);
    connect(m_filterField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.isEmpty())
            applyFilterText();
        else
            m_filterDelay->start();
    });
    connect(m_filterField, &QLineEdit::returnPressed, this, &SidebarView::applyFilterText);
    return filterRow;
}

void SidebarView::focusFilter()
{
    m_filterField->setFocus(Qt::ShortcutFocusReason);
    m_filterField->selectAll();
}

bool SidebarView::eventFilter(QObject* watched, QEvent* event)
{
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched != m_filterField || !isKey || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept(); // Esc belongs to the field while it has the keyboard
        return true;
    }
    m_filterField->clear();
    applyFilterText();
    if (m_notifications)
        emit m_notifications->restoreFirstResponder();
    return true;
}

void SidebarView::applyFilterText()
{
    m_filterDelay->stop();
    m_model->setFilterText(m_filterField->text());
}

void SidebarView::showFilter()
{
    // Text set elsewhere (a context menu's "Same seed") shows here; typing not yet applied stays.
    if (!m_filterDelay->isActive() && m_filterField->text() != m_model->filterText())
        m_filterField->setText(m_model->filterText());
    const QString& error = m_model->filterError();
    const qint64 pending = m_model->pendingCount();
    if (!error.isEmpty()) {
        m_filterStatus->setText(error);
        setTextColour(m_filterStatus, SidebarStyle::unavailableColor());
    } else {
        m_filterStatus->setText(pending > 0 ? localizedCount("filter_pending", pending) : QString());
        setTextColour(m_filterStatus, SidebarStyle::secondaryColor(palette()));
    }
    m_filterStatus->setVisible(!m_filterStatus->text().isEmpty());
}

QWidget* SidebarView::makeSizeRow()
{
    auto* sizeRow = new QWidget(this);
    auto* row = new QHBoxLayout(sizeRow);
    row->setContentsMargins(sizeRowHorizontalPadding, 0, sizeRowHorizontalPadding, sizeRowBottomPadding);
    row->addWidget(iconLabel("photo", smallPhotoIconSize, secondaryIconOpacity, sizeRow));
    m_sizeSlider = new QSlider(Qt::Horizontal, sizeRow);
    m_sizeSlider->setObjectName(QStringLiteral("thumbnailSizeSlider"));
    m_sizeSlider->setFocusPolicy(Qt::NoFocus);
    // Positions on the grid only, so the slider never yields a size off it.
    m_sizeSlider->setRange(0, sliderPosition(maximumThumbnailSize));
    m_sizeSlider->setSingleStep(1);
    m_sizeSlider->setPageStep(1);
    connect(m_sizeSlider, &QSlider::valueChanged, this,
        [this](int position) { m_model->setThumbnailSize(thumbnailSizeAt(position)); });
    row->addWidget(m_sizeSlider, 1);
    row->addWidget(iconLabel("photo", largePhotoIconSize, secondaryIconOpacity, sizeRow));
    return sizeRow;
}

QWidget* SidebarView::makeEmptyState()
{
    auto* empty = new QWidget(this);
    empty->setObjectName(QStringLiteral("emptyState"));
    auto* column = new QVBoxLayout(empty);
    column->setContentsMargins(emptyStatePadding, emptyStatePadding, emptyStatePadding, emptyStatePadding);
    column->setSpacing(emptyStateSpacing);
    column->addStretch(1);
    column->addWidget(
        iconLabel("photo.on.rectangle.angled", emptyStateIconSize, tertiaryIconOpacity, empty), 0, Qt::AlignHCenter);
    auto* hint = new QLabel(qtTrId("drop_hint"), empty);
    hint->setObjectName(QStringLiteral("dropHint"));
    hint->setFont(SidebarStyle::captionFont());
    hint->setAlignment(Qt::AlignHCenter);
    hint->setWordWrap(true);
    setTextColour(hint, SidebarStyle::secondaryColor(palette()));
    column->addWidget(hint);
    auto* openButton = new QPushButton(qtTrId("open_folder_button"), empty);
    openButton->setObjectName(QStringLiteral("emptyStateOpenFolderButton"));
    openButton->setFocusPolicy(Qt::NoFocus);
    openButton->setAttribute(Qt::WA_MacSmallSize);
    openButton->setFont(SidebarStyle::captionFont());
    connect(openButton, &QPushButton::clicked, this, &SidebarView::openFolderRequested);
    column->addWidget(openButton, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return empty;
}

QWidget* SidebarView::makeFooter()
{
    auto* footer = new QWidget(this);
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(divider(footer));

    // Names that no path reaches are not listed; one line says that something was left out.
    m_skippedNames = new QLabel(footer);
    m_skippedNames->setObjectName(QStringLiteral("skippedNamesNotice"));
    m_skippedNames->setFont(SidebarStyle::statusFont());
    m_skippedNames->setContentsMargins(statusHorizontalPadding, statusTopPadding, statusHorizontalPadding, 0);
    setTextColour(m_skippedNames, SidebarStyle::secondaryColor(palette()));
    column->addWidget(m_skippedNames);

    auto* statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(statusHorizontalPadding, statusTopPadding, statusHorizontalPadding, 0);
    m_apiStatus = new QLabel(footer);
    m_apiStatus->setObjectName(QStringLiteral("apiStatus"));
    m_apiStatus->setFont(SidebarStyle::statusFont());
    statusRow->addWidget(m_apiStatus, 1);
    // While metadata is read in the background: a thin bar, out of the way.
    m_prefetchProgress = new QProgressBar(footer);
    m_prefetchProgress->setObjectName(QStringLiteral("prefetchProgress"));
    m_prefetchProgress->setTextVisible(false);
    m_prefetchProgress->setFixedSize(prefetchBarWidth, prefetchBarHeight);
    statusRow->addWidget(m_prefetchProgress, 0, Qt::AlignVCenter);
    column->addLayout(statusRow);

    auto* navigation = new QHBoxLayout;
    navigation->setContentsMargins(
        navigationHorizontalPadding, navigationVerticalPadding, navigationHorizontalPadding, navigationVerticalPadding);
    m_previousButton = borderlessButton("chevron.left", navigationIconSize, footer);
    m_previousButton->setObjectName(QStringLiteral("previousButton"));
    connect(m_previousButton, &QToolButton::clicked, this, [this] {
        m_model->setSelectedURLs({});
        m_model->selectImage(m_model->currentIndex() - 1);
    });
    m_positionCounter = new QLabel(footer);
    m_positionCounter->setObjectName(QStringLiteral("positionCounter"));
    m_positionCounter->setFont(SidebarStyle::secondCaptionFont());
    setTextColour(m_positionCounter, SidebarStyle::secondaryColor(palette()));
    m_nextButton = borderlessButton("chevron.right", navigationIconSize, footer);
    m_nextButton->setObjectName(QStringLiteral("nextButton"));
    connect(m_nextButton, &QToolButton::clicked, m_model, &ImageBrowserModel::nextImage);
    navigation->addWidget(m_previousButton);
    navigation->addStretch(1);
    navigation->addWidget(m_positionCounter);
    navigation->addStretch(1);
    navigation->addWidget(m_nextButton);
    column->addLayout(navigation);
    return footer;
}

void SidebarView::showFolder()
{
    // Without a folder, dropped files (or one given on the command line) are named by the one
    // file's name or by their number.
    const QString name = openedItemsName(*m_model);
    m_folderIcon->setVisible(!name.isEmpty());
    m_folderName->setVisible(!name.isEmpty());
    m_noFolder->setVisible(name.isEmpty());
    m_folderName->setText(name);
}

void SidebarView::showFolderIcon()
{
    const char* symbol = m_model->rootFolderURL().isEmpty() ? "photo" : "folder.fill";
    m_folderIcon->setPixmap(fadedIcon(symbol, headerIconSize, secondaryIconOpacity, devicePixelRatioF()));
}

void SidebarView::showGroups()
{
    // A filter that lets nothing through still shows the (empty) list and its counter.
    const bool nothingListed = m_model->groups().isEmpty() && m_model->listedCount() == 0;
    m_pages->setCurrentWidget(nothingListed ? m_emptyState : m_listPage);
}

void SidebarView::showThumbnailSize()
{
    const QSignalBlocker quiet(m_sizeSlider); // showing the stored size is not a change
    m_sizeSlider->setValue(sliderPosition(m_model->thumbnailSize()));
}

void SidebarView::showAPIStatus()
{
    if (m_api->isAvailable()) {
        const QString endpoint
            = QStringLiteral("%1:%2").arg(QLatin1String(LimnoraAPIService::limnoraAPIHost)).arg(m_api->activePort());
        m_apiStatus->setText(localizedFormat("limnora_running", { endpoint }));
        setTextColour(m_apiStatus, SidebarStyle::availableColor());
    } else {
        m_apiStatus->setText(qtTrId("limnora_not_running"));
        setTextColour(m_apiStatus, SidebarStyle::unavailableColor());
    }
}

void SidebarView::showPosition()
{
    const qint64 current = m_model->currentIndex();
    const qint64 count = m_model->flatURLs().size();
    if (m_model->isFiltering()) {
        const QLocale locale;
        m_positionCounter->setText(localizedFormat("position_of_listed",
            { locale.toString(count > 0 ? current + 1 : 0), locale.toString(count),
                locale.toString(m_model->listedCount()) }));
    } else {
        m_positionCounter->setText(
            localizedFormat("%lld / %lld", { QString::number(current + 1), QString::number(count) }));
    }
    m_previousButton->setEnabled(current >= 1);
    m_nextButton->setEnabled(current < count - 1);
}

void SidebarView::showPrefetchProgress()
{
    const qint64 done = m_model->prefetchDoneCount();
    const qint64 total = m_model->prefetchTotalCount();
    m_prefetchProgress->setVisible(m_model->isPrefetching() && total > 0);
    // QProgressBar counts in int; a share of a fixed scale holds any count.
    constexpr int scale = 1000;
    m_prefetchProgress->setRange(0, scale);
    m_prefetchProgress->setValue(total > 0 ? int(done * scale / total) : 0);
    m_prefetchProgress->setToolTip(localizedFormat("%lld / %lld", { QString::number(done), QString::number(total) }));
}

void SidebarView::showSkippedNames()
{
    const qint64 count = m_model->skippedNameCount();
    m_skippedNames->setVisible(count > 0);
    m_skippedNames->setText(count > 0 ? localizedCount("skipped_unreadable_names", count) : QString());
}

} // namespace limnoscope
