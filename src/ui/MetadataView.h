#pragma once

#include "LimnoraMetadata.h"

#include <QScrollArea>
#include <QUrl>

namespace limnoscope {

class LimnoraAPIService;

// The inspector: one image's generator, prompt, negative prompt, settings and raw metadata texts,
// each copyable, in a scrolling column. Rebuilt for every record it shows. GUI thread.
class MetadataView : public QScrollArea
{
    Q_OBJECT

public:
    static constexpr int sectionSpacing = 16;
    static constexpr int margin = 18;

    MetadataView(
        const LimnoraMetadata& metadata, const QUrl& imageURL, LimnoraAPIService* api, QWidget* parent = nullptr);
};

} // namespace limnoscope
