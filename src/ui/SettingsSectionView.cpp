#include "SettingsSectionView.h"

#include "CopyButton.h"
#include "Icons.h"
#include "LimnoraAPI.h"
#include "SettingsJSON.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace limnoscope {
namespace {

constexpr int settingLabelMinimumWidth = 90;
constexpr int gridRowSpacing = 8;
constexpr int cellSpacing = 6;
constexpr int loraRowSpacing = 8;

QLabel* secondaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* valueLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setCursor(Qt::IBeamCursor);
    QFont medium = label->font();
    medium.setWeight(QFont::Medium);
    medium.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    label->setFont(medium);
    return label;
}

QWidget* settingCell(const QString& label, const QString& value, QWidget* parent)
{
    auto* cell = new QWidget(parent);
    auto* row = new QHBoxLayout(cell);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(cellSpacing);
    QLabel* name = secondaryLabel(label, cell);
    name->setMinimumWidth(settingLabelMinimumWidth);
    row->addWidget(name);
    QLabel* shown = valueLabel(value, cell);
    shown->setWordWrap(true);
    row->addWidget(shown, 1);
    return cell;
}

} // namespace

QString formatRenderTime(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) >= double(std::numeric_limits<qint64>::max()))
        return QStringLiteral("–");
    if (seconds < 60)
        return qtTrId("render_time_seconds").arg(QString::asprintf("%.0f", seconds));
    const auto whole = static_cast<qint64>(seconds); // truncated towards zero
    return qtTrId("render_time_minutes").arg(whole / 60).arg(QString::asprintf("%02lld", whole % 60));
}

QString settingLabel(const QString& key)
{
    static const QHash<QString, const char*> labelKeys = {
        { QStringLiteral("Model"), QT_TRID_NOOP("setting_model") },
        { QStringLiteral("Sampler"), QT_TRID_NOOP("setting_sampler") },
        { QStringLiteral("Steps"), QT_TRID_NOOP("setting_steps") },
        { QStringLiteral("Guidance Scale"), QT_TRID_NOOP("setting_cfg") },
        { QStringLiteral("Seed"), QT_TRID_NOOP("setting_seed") },
        { QStringLiteral("Size"), QT_TRID_NOOP("setting_size") },
        { QStringLiteral("Strength"), QT_TRID_NOOP("setting_strength") },
        { QStringLiteral("Shift"), QT_TRID_NOOP("setting_shift") },
        { QStringLiteral("Seed Mode"), QT_TRID_NOOP("setting_seed_mode") },
        { QStringLiteral("Hires Fix"), QT_TRID_NOOP("setting_hires_fix") },
        { QStringLiteral("Batch Count"), QT_TRID_NOOP("setting_batch_count") },
        { QStringLiteral("Batch Size"), QT_TRID_NOOP("setting_batch_size") },
    };
    const auto found = labelKeys.constFind(key);
    return found == labelKeys.constEnd() ? key : qtTrId(found.value());
}

SettingsSectionView::SettingsSectionView(const LimnoraMetadata& metadata, LimnoraAPIService* api, QWidget* parent)
    : SectionFrame(qtTrId("section_settings"), "slider.horizontal.3", parent)
    , m_generateButton(new QPushButton(symbolIcon("paintbrush.pointed"), qtTrId("ctx_generate_in_limnora"), this))
    , m_copyButton(new CopyButton(
          QT_TRID_NOOP("copy_json"), [metadata] { return settingsJSONString(metadata); }, this))
{
    m_generateButton->setObjectName(QStringLiteral("GenerateButton"));
    m_generateButton->setFocusPolicy(Qt::NoFocus);
    m_generateButton->setFont(m_copyButton->font());
    addHeaderWidget(m_generateButton);
    addHeaderWidget(m_copyButton);

    m_generateButton->setVisible(api->isAvailable());
    connect(api, &LimnoraAPIService::isAvailableChanged, m_generateButton, &QWidget::setVisible);
    // The request runs on its own; the button neither waits nor shows a result.
    connect(m_generateButton, &QPushButton::clicked, api, [api, metadata] { api->generate(metadata); });

    if (orderedSettingItems(metadata.settings).isEmpty() && metadata.loras.isEmpty()) {
        QLabel* empty = secondaryLabel(qtTrId("no_settings"), this);
        empty->setObjectName(QStringLiteral("NoSettings"));
        contentLayout()->addWidget(empty);
        return;
    }
    addSettingsGrid(metadata);
    if (!metadata.loras.isEmpty()) {
        contentLayout()->addWidget(makeDivider(this));
        addLoraList(metadata);
    }
}

void SettingsSectionView::addSettingsGrid(const LimnoraMetadata& metadata)
{
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(gridRowSpacing);
    grid->setHorizontalSpacing(2 * cellSpacing);
    int cellIndex = 0;
    const auto addCell = [&](QWidget* cell) {
        grid->addWidget(cell, cellIndex / 2, cellIndex % 2, Qt::AlignLeft | Qt::AlignTop);
        ++cellIndex;
    };
    for (const SettingItem& item : orderedSettingItems(metadata.settings))
        addCell(settingCell(settingLabel(item.key), item.value, this));
    if (metadata.renderDuration)
        addCell(settingCell(qtTrId("setting_render_time"), formatRenderTime(*metadata.renderDuration), this));
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    auto* holder = new QWidget(this);
    holder->setObjectName(QStringLiteral("SettingsGrid"));
    holder->setLayout(grid);
    grid->setContentsMargins(0, 0, 0, 0);
    contentLayout()->addWidget(holder);
}

void SettingsSectionView::addLoraList(const LimnoraMetadata& metadata)
{
    auto* list = new QVBoxLayout;
    list->setSpacing(cellSpacing);
    list->addWidget(secondaryLabel(qtTrId("section_loras"), this));
    list->addSpacing(2);
    const int iconSize = fontMetrics().height() * 3 / 4;
    for (const LoraEntry& lora : metadata.loras) {
        auto* row = new QHBoxLayout;
        row->setSpacing(loraRowSpacing);
        auto* icon = new QLabel(this);
        icon->setPixmap(symbolIcon("wand.and.stars").pixmap(iconSize, iconSize));
        row->addWidget(icon);
        QLabel* file = valueLabel(lora.file, this);
        file->setObjectName(QStringLiteral("LoraFile"));
        file->setFont(font());
        file->setMinimumWidth(40);
        file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(file, 1);
        QLabel* weight = valueLabel(QString::asprintf("%.2f", lora.weight), this);
        weight->setObjectName(QStringLiteral("LoraWeight"));
        weight->setForegroundRole(QPalette::PlaceholderText);
        row->addWidget(weight);
        list->addLayout(row);
    }
    contentLayout()->addLayout(list);
}

} // namespace limnoscope
