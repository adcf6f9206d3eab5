#pragma once

#include "LimnoraMetadata.h"
#include "SectionFrame.h"

#include <QPointer>

class QPushButton;

namespace limnoscope {

class CopyButton;
class LimnoraAPIService;

// The settings section of the inspector: the settings in a two-column grid in listing order,
// the render time, the LoRAs, a copy-as-JSON button and, while Limnora's API answers, a button
// that sends the settings to Limnora. GUI thread.
class SettingsSectionView : public SectionFrame
{
    Q_OBJECT

public:
    SettingsSectionView(const LimnoraMetadata& metadata, LimnoraAPIService* api, QWidget* parent = nullptr);

    [[nodiscard]] CopyButton* copyButton() const { return m_copyButton; }
    [[nodiscard]] QPushButton* generateButton() const { return m_generateButton; }

private:
    void addSettingsGrid(const LimnoraMetadata& metadata);
    void addLoraList(const LimnoraMetadata& metadata);

    QPushButton* m_generateButton;
    CopyButton* m_copyButton;
};

// "12 s" below a minute, "2:05 min" from a minute on (truncated to whole seconds).
[[nodiscard]] QString formatRenderTime(double seconds);

// The visible label of a setting key: its localised label, or the key itself.
[[nodiscard]] QString settingLabel(const QString& key);

} // namespace limnoscope
