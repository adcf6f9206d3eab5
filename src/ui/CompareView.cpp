#include "CompareView.h"

#include "CacheEntry.h"
#include "CompareDiff.h"
#include "CopyButton.h"
#include "DecodeDownsampled.h"
#include "ElidedLabel.h"
#include "ImageBrowserModel.h"
#include "KeyboardMap.h"
#include "MetadataPrefetcher.h"
#include "SectionFrame.h"
#include "SettingsJSON.h"
#include "SettingsSectionView.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace limnoscope {
namespace {

constexpr int margin = 16;
constexpr int columnSpacing = 12;
constexpr int cellPadding = 4;
// How much of the accent (differing rows) or of red and green (removed and added words) is
// mixed into the base colour: enough to be seen, light enough to read any text colour on it.
constexpr qreal rowTintAmount = 0.22;
constexpr qreal wordTintAmount = 0.30;
const QColor removedColour(220, 60, 60);
const QColor addedColour(50, 170, 80);

QColor mixed(const QColor& base, const QColor& tint, qreal amount)
{
    return QColor::fromRgbF(base.redF() + (tint.redF() - base.redF()) * amount,
        base.greenF() + (tint.greenF() - base.greenF()) * amount,
        base.blueF() + (tint.blueF() - base.blueF()) * amount);
}

// Long file names and paths have no spaces: a zero-width space after each separator lets them
// wrap instead of widening the table.
QString withBreaks(QString text)
{
    static const QRegularExpression separator(QStringLiteral("([_/\\\\.,-])"));
    return text.replace(separator, QStringLiteral("\\1\u200B"));
}

QString rowLabel(const ComparisonRow& row)
{
    switch (row.kind) {
    case ComparisonRow::Kind::setting:
        return settingLabel(row.key);
    case ComparisonRow::Kind::generator:
        return qtTrId("compare_generator");
    case ComparisonRow::Kind::loras:
        return qtTrId("section_loras");
    case ComparisonRow::Kind::renderTime:
        return qtTrId("setting_render_time");
    }
    return row.key;
}

} // namespace

// One image fitted into its box, or nothing while it is decoded. GUI thread.
class ComparePicture : public QWidget
{
public:
    explicit ComparePicture(QWidget* parent)
        : QWidget(parent)
    {
        setFixedHeight(CompareView::pictureHeight);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    void setImage(const QImage& image)
    {
        m_image = image;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_image.isNull() || width() <= 0)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSizeF fitted = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        painter.drawImage(target, m_image);
    }

private:
    QImage m_image;
};

CompareView::CompareView(ImageBrowserModel* model, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("CompareView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setBackgroundRole(QPalette::Base);

    auto* content = new QWidget;
    content->setBackgroundRole(QPalette::Base);
    m_column = new QVBoxLayout(content);
    m_column->setContentsMargins(margin, margin, margin, margin);
    m_column->setSpacing(columnSpacing);

    auto* top = new QHBoxLayout;
    auto* title = new QLabel(qtTrId("compare_title"), content);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    top->addWidget(title);
    top->addStretch(1);
    auto* close = new QPushButton(qtTrId("compare_close"), content);
    close->setObjectName(QStringLiteral("CompareClose"));
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QPushButton::clicked, this, &CompareView::leaveRequested);
    top->addWidget(close);
    m_column->addLayout(top);

    auto* sides = new QHBoxLayout;
    sides->setSpacing(columnSpacing);
    for (Side& side : m_sides)
        sides->addWidget(makeSideColumn(side), 1);
    m_column->addLayout(sides);
    m_column->addStretch(1);
    setWidget(content);

    connect(&model->metadataPrefetcher(), &MetadataPrefetcher::entryStored, this,
        [this](const QUrl& url, const CacheEntry& entry) { entryStored(url, entry); });
}

QWidget* CompareView::makeSideColumn(Side& side)
{
    auto* column = new QWidget(widget());
    column->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    side.name = new ElidedLabel(column);
    side.name->setObjectName(QStringLiteral("CompareFileName"));
    layout->addWidget(side.name);
    side.picture = new ComparePicture(column);
    layout->addWidget(side.picture);
    side.status = secondaryLabel(QString(), column);
    side.status->setWordWrap(true);
    layout->addWidget(side.status);
    side.copy = new CopyButton(
        QT_TRID_NOOP("copy_json"),
        [&side] { return side.reading && *side.reading ? settingsJSONString(**side.reading) : QString(); }, column);
    layout->addWidget(side.copy, 0, Qt::AlignLeft);
    return column;
}

void CompareView::setImages(const QUrl& left, const QUrl& right)
{
    const bool samePictures = left == m_sides[0].url && right == m_sides[1].url;
    m_sides[0].url = left;
    m_sides[1].url = right;
    for (Side& side : m_sides) {
        side.name->setText(side.url.fileName());
        readRecord(side);
    }
    rebuildDetails();
    if (samePictures)
        return;
    ++m_loadID;
    for (int index = 0; index < int(m_sides.size()); ++index)
        decode(index);
}

void CompareView::decode(int index)
{
    Side& side = m_sides[size_t(index)];
    side.decoded = false;
    side.picture->setImage(QImage());
    const QUrl url = side.url;
    const quint64 loadID = m_loadID;
    QPointer<CompareView> self(this);
    // The application is the continuation's context: the view may be gone when the decode ends.
    QtConcurrent::run([url] {
        return decodeDownsampled(url, decodeSize);
    }).then(qApp, [self, loadID, index](const QImage& image) {
        if (!self || self->m_loadID != loadID)
            return; // another pair is shown now
        Side& shown = self->m_sides[size_t(index)];
        shown.picture->setImage(image);
        shown.decoded = true;
        if (self->m_sides[0].decoded && self->m_sides[1].decoded)
            emit self->picturesShown();
    });
}

void CompareView::readRecord(Side& side)
{
    const auto& cache = m_model->metadataCache();
    const auto found = cache.constFind(side.url);
    side.reading.reset();
    if (found != cache.constEnd())
        side.reading = found->metadata();
    side.status->setText(!side.reading ? qtTrId("compare_reading")
            : !*side.reading           ? qtTrId("compare_no_metadata")
                                       : QString());
    side.status->setVisible(!side.status->text().isEmpty());
    side.copy->setEnabled(side.reading && *side.reading);
}

void CompareView::entryStored(const QUrl& url, const CacheEntry& entry)
{
    Q_UNUSED(entry) // the cache holds it now
    bool changed = false;
    for (Side& side : m_sides) {
        if (side.url == url) {
            readRecord(side);
            changed = true;
        }
    }
    if (changed)
        rebuildDetails();
}

void CompareView::rebuildDetails()
{
    if (m_details) {
        m_column->removeWidget(m_details);
        m_details->deleteLater();
        m_details = nullptr;
    }
    // Rows compared against a record not read yet would all look different.
    if (!m_sides[0].reading || !m_sides[1].reading)
        return;
    m_details = new QWidget(widget());
    auto* layout = new QVBoxLayout(m_details);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(columnSpacing);
    layout->addWidget(makeSettingsTable(m_details));
    layout->addWidget(makePromptRows(m_details));
    m_column->insertWidget(m_column->count() - 1, m_details); // above the closing stretch
}

QWidget* CompareView::makeSettingsTable(QWidget* parent) const
{
    auto* table = new QFrame(parent);
    table->setObjectName(QStringLiteral("CompareTable"));
    table->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(table);
    grid->setContentsMargins(1, 1, 1, 1);
    grid->setSpacing(0);
    const QColor rowTint = mixed(palette().color(QPalette::Base), palette().color(QPalette::Highlight), rowTintAmount);
    const QString none = QStringLiteral("—");
    const QList<ComparisonRow> rows = settingsComparison(*m_sides[0].reading, *m_sides[1].reading);
    for (int row = 0; row < rows.size(); ++row) {
        const ComparisonRow& compared = rows[row];
        // The marker and the bold values say it without the colour.
        const QString label = compared.differs ? QStringLiteral("≠ ") + rowLabel(compared) : rowLabel(compared);
        const QString texts[]
            = { label, withBreaks(compared.left.value_or(none)), withBreaks(compared.right.value_or(none)) };
        for (int column = 0; column < 3; ++column) {
            auto* cell = new QLabel(texts[column], table);
            cell->setObjectName(column == 0 ? QStringLiteral("CompareKey") : QStringLiteral("CompareValue"));
            cell->setTextFormat(Qt::PlainText);
            cell->setWordWrap(true);
            cell->setContentsMargins(cellPadding, cellPadding, cellPadding, cellPadding);
            cell->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            cell->setProperty("differs", compared.differs);
            if (column == 0)
                cell->setForegroundRole(QPalette::PlaceholderText);
            else
                cell->setTextInteractionFlags(Qt::TextSelectableByMouse);
            if (compared.differs) {
                QPalette tinted = cell->palette();
                tinted.setColor(QPalette::Window, rowTint);
                cell->setPalette(tinted);
                cell->setBackgroundRole(QPalette::Window); // not the page's Base it would inherit
                cell->setAutoFillBackground(true);
                QFont bold = cell->font();
                bold.setBold(true);
                cell->setFont(bold);
            }
            grid->addWidget(cell, row, column);
        }
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    return table;
}

QWidget* CompareView::makePromptRows(QWidget* parent) const
{
    auto* holder = new QWidget(parent);
    auto* grid = new QGridLayout(holder);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(columnSpacing);
    const QColor base = palette().color(QPalette::Base);
    const LimnoraMetadata empty;
    const LimnoraMetadata& left = *m_sides[0].reading ? **m_sides[0].reading : empty;
    const LimnoraMetadata& right = *m_sides[1].reading ? **m_sides[1].reading : empty;
    const std::pair<const char*, QString LimnoraMetadata::*> texts[] = {
        { QT_TRID_NOOP("section_prompt"), &LimnoraMetadata::prompt },
        { QT_TRID_NOOP("section_negative_prompt"), &LimnoraMetadata::negativePrompt },
    };
    int row = 0;
    for (const auto& [titleKey, field] : texts) {
        if ((left.*field).isEmpty() && (right.*field).isEmpty())
            continue;
        grid->addWidget(secondaryLabel(qtTrId(titleKey), holder), row++, 0, 1, 2);
        const QList<DiffWord> words = wordDiff(left.*field, right.*field);
        const std::pair<DiffSide, QColor> sides[] = { { DiffSide::left, mixed(base, removedColour, wordTintAmount) },
            { DiffSide::right, mixed(base, addedColour, wordTintAmount) } };
        for (int column = 0; column < 2; ++column) {
            auto* text = new QLabel(diffHTML(words, sides[column].first, sides[column].second), holder);
            text->setObjectName(QStringLiteral("ComparePrompt"));
            text->setTextFormat(Qt::RichText);
            text->setWordWrap(true);
            text->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            text->setTextInteractionFlags(Qt::TextSelectableByMouse);
            grid->addWidget(text, row, column);
        }
        ++row;
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return holder;
}

// While shown, the page sees Esc before the focused widget, as the keyboard map does for its keys.
void CompareView::showEvent(QShowEvent* event)
{
    QScrollArea::showEvent(event);
    qApp->installEventFilter(this);
}

void CompareView::hideEvent(QHideEvent* event)
{
    qApp->removeEventFilter(this);
    QScrollArea::hideEvent(event);
}

bool CompareView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || !isVisible())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier)
        return false;
    if (static_cast<QWidget*>(watched)->window() != window() || KeyboardMap::keyboardIsTaken())
        return false;
    emit leaveRequested();
    return true;
}

} // namespace limnoscope
