#include "SettingsSectionView.h"

#include "CopyButton.h"
#include "Icons.h"
#include "LimnoraAPI.h"
#include "SettingsGrid.h"
#include "SettingsJSON.h"
#include "ValueTextView.h"

#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace limnoscope {
namespace {

constexpr int cellSpacing = 6;
constexpr int loraRowSpacing = 8;

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
        // Names the other generators' readers give their settings.
        { QStringLiteral("CLIP Skip"), QT_TRID_NOOP("setting_clip_skip") },
        { QStringLiteral("Refiner Model"), QT_TRID_NOOP("setting_refiner_model") },
        { QStringLiteral("Upscaler"), QT_TRID_NOOP("setting_upscaler") },
        { QStringLiteral("Upscale"), QT_TRID_NOOP("setting_upscale") },
        { QStringLiteral("VAE"), QT_TRID_NOOP("setting_vae") },
        { QStringLiteral("Other Samplers"), QT_TRID_NOOP("setting_other_samplers") },
        { QStringLiteral("Model hash"), QT_TRID_NOOP("setting_model_hash") },
        { QStringLiteral("VAE hash"), QT_TRID_NOOP("setting_vae_hash") },
        { QStringLiteral("Lora hashes"), QT_TRID_NOOP("setting_lora_hashes") },
        { QStringLiteral("TI hashes"), QT_TRID_NOOP("setting_ti_hashes") },
        { QStringLiteral("Denoising strength"), QT_TRID_NOOP("setting_denoising_strength") },
        { QStringLiteral("Hires upscaler"), QT_TRID_NOOP("setting_hires_upscaler") },
        { QStringLiteral("Hires upscale"), QT_TRID_NOOP("setting_hires_upscale") },
        { QStringLiteral("Hires steps"), QT_TRID_NOOP("setting_hires_steps") },
        { QStringLiteral("Face restoration"), QT_TRID_NOOP("setting_face_restoration") },
        { QStringLiteral("Face Restoration Strength"), QT_TRID_NOOP("setting_face_restoration_strength") },
        { QStringLiteral("CodeFormer Fidelity"), QT_TRID_NOOP("setting_codeformer_fidelity") },
        { QStringLiteral("Init Image"), QT_TRID_NOOP("setting_init_image") },
        { QStringLiteral("Iterations"), QT_TRID_NOOP("setting_iterations") },
        { QStringLiteral("Noise"), QT_TRID_NOOP("setting_noise") },
        { QStringLiteral("Sharpness"), QT_TRID_NOOP("setting_sharpness") },
        { QStringLiteral("Flux Guidance"), QT_TRID_NOOP("setting_flux_guidance") },
        { QStringLiteral("Start Step"), QT_TRID_NOOP("setting_start_step") },
        { QStringLiteral("End Step"), QT_TRID_NOOP("setting_end_step") },
        { QStringLiteral("Schedule type"), QT_TRID_NOOP("setting_schedule_type") },
        { QStringLiteral("Version"), QT_TRID_NOOP("setting_version") },
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
        empty->setWordWrap(true);
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
    auto* grid = new SettingsGrid(this);
    for (const SettingItem& item : orderedSettingItems(metadata.settings))
        grid->addSetting(settingLabel(item.key), item.value);
    if (metadata.renderDuration)
        grid->addSetting(qtTrId("setting_render_time"), formatRenderTime(*metadata.renderDuration));
    contentLayout()->addWidget(grid);
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
        auto* file = new ValueTextView(lora.file, ValueTextView::Layout::ElideMiddle, this);
        file->setObjectName(QStringLiteral("LoraFile"));
        row->addWidget(file, 1);
        QLabel* weight = secondaryLabel(QString::asprintf("%.2f", lora.weight), this);
        weight->setObjectName(QStringLiteral("LoraWeight"));
        weight->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont medium = weight->font();
        medium.setWeight(QFont::Medium);
        weight->setFont(medium);
        row->addWidget(weight);
        list->addLayout(row);
    }
    contentLayout()->addLayout(list);
}

} // namespace limnoscope
