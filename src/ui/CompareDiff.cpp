#include "CompareDiff.h"

#include "SettingsSectionView.h"

#include <QRegularExpression>

#include <vector>

namespace limnoscope {
namespace {

// Beyond this many cells (left words by right words, once the common start and end are set
// aside) the table of the longest common subsequence is not built: the middle parts are shown as
// wholly removed and added instead. 4 Mi cells of 16 bits are 8 MB and a few milliseconds.
constexpr qsizetype largestDiffTable = qsizetype(1) << 22;

QStringList wordsOf(const QString& text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.split(space, Qt::SkipEmptyParts);
}

// The diff of the two word lists between their common start and end.
void diffMiddle(const QStringList& left, const QStringList& right, QList<DiffWord>& out)
{
    const qsizetype rows = left.size();
    const qsizetype columns = right.size();
    if (rows * columns > largestDiffTable) {
        for (const QString& word : left)
            out.append({ word, DiffWord::Kind::removed });
        for (const QString& word : right)
            out.append({ word, DiffWord::Kind::added });
        return;
    }
    // common[i][j]: the length of the longest common subsequence of left[i..] and right[j..].
    const qsizetype stride = columns + 1;
    std::vector<quint16> common(size_t((rows + 1) * stride), 0);
    for (qsizetype i = rows - 1; i >= 0; --i)
        for (qsizetype j = columns - 1; j >= 0; --j)
            common[size_t(i * stride + j)] = left[i] == right[j]
                ? quint16(common[size_t((i + 1) * stride + j + 1)] + 1)
                : std::max(common[size_t((i + 1) * stride + j)], common[size_t(i * stride + j + 1)]);
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < rows && j < columns) {
        if (left[i] == right[j]) {
            out.append({ left[i], DiffWord::Kind::same });
            ++i;
            ++j;
        } else if (common[size_t((i + 1) * stride + j)] >= common[size_t(i * stride + j + 1)]) {
            out.append({ left[i++], DiffWord::Kind::removed });
        } else {
            out.append({ right[j++], DiffWord::Kind::added });
        }
    }
    for (; i < rows; ++i)
        out.append({ left[i], DiffWord::Kind::removed });
    for (; j < columns; ++j)
        out.append({ right[j], DiffWord::Kind::added });
}

std::optional<QString> lorasText(const std::optional<LimnoraMetadata>& record)
{
    if (!record || record->loras.isEmpty())
        return std::nullopt;
    QStringList parts;
    for (const LoraEntry& lora : record->loras)
        parts.append(QStringLiteral("%1:%2").arg(lora.file, QString::number(lora.weight, 'g', 6)));
    return parts.join(QStringLiteral(", "));
}

std::optional<QString> renderTimeText(const std::optional<LimnoraMetadata>& record)
{
    if (!record || !record->renderDuration)
        return std::nullopt;
    return formatRenderTime(*record->renderDuration);
}

std::optional<QString> generatorText(const std::optional<LimnoraMetadata>& record)
{
    if (!record || record->generator.isEmpty())
        return std::nullopt;
    return record->generator;
}

} // namespace

QList<DiffWord> wordDiff(const QString& left, const QString& right)
{
    const QStringList leftWords = wordsOf(left);
    const QStringList rightWords = wordsOf(right);
    // Prompts mostly differ in a few words: the common start and end need no table.
    qsizetype start = 0;
    while (start < leftWords.size() && start < rightWords.size() && leftWords[start] == rightWords[start])
        ++start;
    qsizetype end = 0;
    while (end < leftWords.size() - start && end < rightWords.size() - start
        && leftWords[leftWords.size() - 1 - end] == rightWords[rightWords.size() - 1 - end])
        ++end;
    QList<DiffWord> words;
    for (qsizetype i = 0; i < start; ++i)
        words.append({ leftWords[i], DiffWord::Kind::same });
    diffMiddle(leftWords.mid(start, leftWords.size() - start - end),
        rightWords.mid(start, rightWords.size() - start - end), words);
    for (qsizetype i = leftWords.size() - end; i < leftWords.size(); ++i)
        words.append({ leftWords[i], DiffWord::Kind::same });
    return words;
}

QString diffHTML(const QList<DiffWord>& words, DiffSide side, const QColor& tint)
{
    const DiffWord::Kind shown = side == DiffSide::left ? DiffWord::Kind::removed : DiffWord::Kind::added;
    const QString marked = side == DiffSide::left ? QStringLiteral("<s style=\"background-color:%1\">%2</s>")
                                                  : QStringLiteral("<u style=\"background-color:%1\">%2</u>");
    QStringList parts;
    for (const DiffWord& word : words) {
        if (word.kind == DiffWord::Kind::same)
            parts.append(word.word.toHtmlEscaped());
        else if (word.kind == shown)
            parts.append(marked.arg(tint.name(), word.word.toHtmlEscaped()));
    }
    return parts.join(u' ');
}

QList<ComparisonRow> settingsComparison(
    const std::optional<LimnoraMetadata>& left, const std::optional<LimnoraMetadata>& right)
{
    // Both records' keys in one map give the listing order: the catalogue first, then the rest as
    // they first appeared, the left record's before the right one's (a key both hold keeps its
    // left place). Only the keys are used: the values are each side's own.
    SettingsMap keys;
    for (const auto* record : { &left, &right }) {
        if (*record) {
            for (const auto& [key, value] : (*record)->settings.entries())
                keys.insert(key, value);
        }
    }
    QList<ComparisonRow> rows;
    const auto addRow = [&rows](ComparisonRow::Kind kind, const QString& key, std::optional<QString> leftValue,
                            std::optional<QString> rightValue) {
        if (!leftValue && !rightValue)
            return;
        const bool differs = leftValue != rightValue;
        rows.append({ kind, key, std::move(leftValue), std::move(rightValue), differs });
    };
    for (const SettingItem& item : orderedSettingItems(keys))
        addRow(ComparisonRow::Kind::setting, item.key, left ? left->settings.value(item.key) : std::nullopt,
            right ? right->settings.value(item.key) : std::nullopt);
    addRow(ComparisonRow::Kind::generator, {}, generatorText(left), generatorText(right));
    addRow(ComparisonRow::Kind::loras, {}, lorasText(left), lorasText(right));
    addRow(ComparisonRow::Kind::renderTime, {}, renderTimeText(left), renderTimeText(right));
    return rows;
}

} // namespace limnoscope
