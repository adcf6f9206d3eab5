// The sidebar filter of a folder of 100,000 images, as the user types: several queries typed
// character by character into the real browser model, its metadata read from 100,000 Limnora
// PNGs written here (exiftool off). Prints the slowest and the median keystroke on the GUI thread
// (the call itself, or the longest the event loop was held while its result was matched and
// shown, whichever is longer) while the folder is first read and once it is read, the peak
// memory, and, without the model, each keystroke parsed and matched against every record on one
// thread and on two, and as a search that only looks again at the last matches while the query
// narrows; as the reference `grep -c -i` over the same prompts written to a file.

#include "BenchSupport.h"
#include "ExiftoolRunner.h"
#include "ImageBrowserModel.h"
#include "ImageQuery.h"
#include "PNGChunkWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QSettings>
#include <QTimer>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

using namespace limnoscope;

namespace {

constexpr int recordCount = 100'000;

const QStringList promptWords { "a", "the", "of", "with", "portrait", "woman", "man", "red", "car", "city", "street",
    "night", "neon", "rain", "forest", "mountain", "river", "sunset", "golden", "hour", "cinematic", "lighting",
    "highly", "detailed", "sharp", "focus", "8k", "photograph", "oil", "painting", "castle", "dragon", "ocean", "waves",
    "cliff", "fog", "misty", "morning", "autumn", "leaves", "snow", "winter", "cabin", "warm", "glow", "vintage",
    "film", "grain", "bokeh", "studio", "soft", "light", "dramatic", "sky", "clouds", "stars", "harbour", "boat",
    "market", "café", "Straße", "robot", "astronaut", "cat", "dog", "flowers", "garden" };
const QStringList negativeWords { "blurry", "lowres", "bad anatomy", "watermark", "text", "jpeg artifacts",
    "oversaturated", "deformed", "extra fingers", "cropped" };
const QStringList models { "sdxl_base_1.0.safetensors", "juggernautXL_v9.safetensors", "flux1-dev-fp8.safetensors",
    "realisticVision_v51.safetensors", "dreamshaper_8.safetensors", "limnora_xl_v2.ckpt" };
const QStringList samplers { "DPM++ 2M Karras", "Euler a", "Euler", "DDIM", "UniPC", "DPM++ SDE Karras" };
const QStringList loras { "detail_tweaker_v2.safetensors", "film_grain_v3.safetensors", "bokeh_helper.safetensors",
    "add_more_details.safetensors", "epiNoiseOffset_v2.safetensors" };
const QStringList sizes { "832x1216", "1024x1024", "1216x832", "512x768", "768x512" };
const QStringList guidance { "5.0", "6.5", "7.0", "7.5", "4", "8" };
const QStringList generators { "Limnora", "ComfyUI", "A1111 / Forge" };

struct Image {
    LimnoraMetadata record;
    QString fileName;
    QList<FinderTag> tags;
};

std::vector<Image> makeImages()
{
    QRandomGenerator random(20'261'207);
    const auto pick = [&random](const QStringList& list) { return list[random.bounded(int(list.size()))]; };
    std::vector<Image> images(recordCount);
    for (int i = 0; i < recordCount; ++i) {
        Image& image = images[std::size_t(i)];
        QStringList words;
        const int length = 15 + random.bounded(30);
        for (int w = 0; w < length; ++w)
            words.append(pick(promptWords));
        if (random.bounded(50) == 0)
            words.insert(random.bounded(int(words.size())), QStringLiteral("lighthouse"));
        for (const QString& word : words) {
            if (!image.record.prompt.isEmpty())
                image.record.prompt += random.bounded(3) ? QStringLiteral(" ") : QStringLiteral(", ");
            image.record.prompt += word;
        }
        QStringList negative;
        for (int w = random.bounded(6); w > 0; --w)
            negative.append(pick(negativeWords));
        image.record.negativePrompt = negative.join(QStringLiteral(", "));
        image.record.settings.insert(QStringLiteral("Model"), pick(models));
        image.record.settings.insert(QStringLiteral("Sampler"), pick(samplers));
        image.record.settings.insert(QStringLiteral("Steps"), QString::number(10 + random.bounded(41)));
        image.record.settings.insert(QStringLiteral("Guidance Scale"), pick(guidance));
        image.record.settings.insert(QStringLiteral("Seed"), QString::number(random.generate()));
        image.record.settings.insert(QStringLiteral("Size"), pick(sizes));
        image.record.settings.insert(QStringLiteral("Strength"), QStringLiteral("1.0"));
        image.record.settings.insert(QStringLiteral("Seed Mode"), QStringLiteral("Scale Alike"));
        for (int l = random.bounded(3); l > 0; --l)
            image.record.loras.append(LoraEntry { {}, pick(loras), 0.6 });
        image.record.generator = pick(generators);
        image.fileName = QStringLiteral("render_%1.png").arg(i, 6, 10, QLatin1Char('0'));
        if (random.bounded(10) == 0)
            image.tags.append(FinderTag::red);
    }
    return images;
}

// How many of `images` from `begin` to `end` the query matches.
int matchRange(const ImageQuery& query, const std::vector<Image>& images, std::size_t begin, std::size_t end)
{
    int matching = 0;
    for (std::size_t i = begin; i < end; ++i)
        matching += query.matches({ &images[i].record, images[i].fileName, &images[i].tags });
    return matching;
}

// Parses `text` and matches it against every image; the number of matches, -1 when it does not parse.
int matchAll(const QString& text, const std::vector<Image>& images)
{
    const auto query = ImageQuery::parse(text);
    return query ? matchRange(*query, images, 0, images.size()) : -1;
}

// The same on two threads, each with half the images.
int matchAllOnTwoThreads(const QString& text, const std::vector<Image>& images)
{
    const auto query = ImageQuery::parse(text);
    if (!query)
        return -1;
    int secondHalf = 0;
    std::thread helper([&] { secondHalf = matchRange(*query, images, images.size() / 2, images.size()); });
    const int firstHalf = matchRange(*query, images, 0, images.size() / 2);
    helper.join();
    return firstHalf + secondHalf;
}

// Typing on one thread as a model can: where the query narrows the last one that parsed, only
// the images that one matched are looked at again.
class NarrowingSearch
{
public:
    explicit NarrowingSearch(const std::vector<Image>& images)
        : m_images(images)
    {
        clear();
    }

    void clear()
    {
        m_last = ImageQuery();
        m_matching.resize(m_images.size());
        std::iota(m_matching.begin(), m_matching.end(), std::size_t(0));
    }

    void type(const QString& text)
    {
        const auto query = ImageQuery::parse(text);
        if (!query)
            return; // the field shows the error, the list stays
        std::vector<std::size_t> matching;
        const auto look = [&](std::size_t i) {
            if (query->matches({ &m_images[i].record, m_images[i].fileName, &m_images[i].tags }))
                matching.push_back(i);
        };
        if (query->narrows(m_last)) {
            for (std::size_t i : m_matching)
                look(i);
        } else {
            for (std::size_t i = 0; i < m_images.size(); ++i)
                look(i);
        }
        m_last = *query;
        m_matching = std::move(matching);
    }

private:
    const std::vector<Image>& m_images;
    ImageQuery m_last;
    std::vector<std::size_t> m_matching;
};

// The text Limnora writes for `record`: prompt, "-" negative prompt, settings line.
QByteArray limnoraText(const LimnoraMetadata& record)
{
    QStringList settings;
    for (const auto& [key, value] : record.settings.entries())
        settings.append(key + QStringLiteral(": ") + value);
    for (qsizetype l = 0; l < record.loras.size(); ++l)
        settings.append(QStringLiteral("LoRA %1 Model: %2, LoRA %1 Weight: 0.6").arg(l + 1).arg(record.loras[l].file));
    return (record.prompt + QStringLiteral("\n-") + record.negativePrompt + u'\n' + settings.join(QStringLiteral(", ")))
        .toUtf8();
}

std::vector<double> sorted(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

// The GUI thread's time per keystroke while `typed` is typed into a model showing the images
// of `folder`, every image read (or, `whileReading`, from the moment the folder opens, for as
// long as its first reading runs): the longer of the call and the longest hold of the event loop
// (a 1 ms timer's lateness) until the next keystroke, 120 ms later. Sorted; empty on failure.
std::vector<double> keystrokesThroughTheModel(const QString& folder, const QStringList& typed, bool whileReading)
{
    ImageBrowserModel model;
    model.loadFolder(QUrl::fromLocalFile(folder));
    QElapsedTimer timer;
    timer.start();
    while (!whileReading && model.metadataCache().size() < recordCount && timer.elapsed() < 120'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!whileReading && model.metadataCache().size() < recordCount)
        return {};
    std::vector<double> keystrokes;
    qint64 lastTick = 0;
    qint64 worstLateness = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = timer.nsecsElapsed();
        worstLateness = std::max(worstLateness, now - lastTick - 1'000'000);
        lastTick = now;
    });
    ticker.start();
    for (const QString& query : typed) {
        for (qsizetype length = 0; length <= query.size(); ++length) { // from the empty field
            QElapsedTimer call;
            call.start();
            model.setFilterText(query.left(length));
            const qint64 callNs = call.nsecsElapsed();
            lastTick = timer.nsecsElapsed();
            worstLateness = 0;
            const qint64 next = timer.elapsed() + 120;
            while (timer.elapsed() < next)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            keystrokes.push_back(std::max(callNs, worstLateness) / 1e6);
            if (whileReading && model.metadataCache().size() >= recordCount)
                return sorted(keystrokes);
        }
    }
    if (whileReading)
        return sorted(keystrokes);
    std::sort(keystrokes.begin(), keystrokes.end());
    // The model shows what the query matches (the first query's images; the texts are written as
    // Latin-1 chunks, so words beyond it would not survive the round trip).
    model.setFilterText(typed.first());
    const qint64 settle = timer.elapsed() + 2'000;
    while (timer.elapsed() < settle)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("filter.model_matches[%s]: %lld\n", qPrintable(typed.first()), qlonglong(model.flatURLs().size()));
    return keystrokes;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    QCoreApplication application(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    setExiftoolDisabled(true);
    const std::vector<Image> images = makeImages();
    const QStringList typed { QStringLiteral("lighthouse"), QStringLiteral("model:xl steps:>30"),
        QStringLiteral("\"red car\" -blurry"), QStringLiteral("seed:12345"), QStringLiteral("portrait woman -tag:red"),
        QStringLiteral("lora:detail cfg:>=7 sampler:karras"), QStringLiteral("café straße") };

    // Each keystroke parsed and matched against every image, on one thread and on two; and as
    // a model narrowing the last matches while the query narrows.
    std::vector<double> keystrokes, twoThreads, narrowing;
    NarrowingSearch search(images);
    QElapsedTimer timer;
    for (const QString& query : typed) {
        search.clear();
        for (qsizetype length = 1; length <= query.size(); ++length) {
            const QString text = query.left(length);
            timer.start();
            matchAll(text, images);
            keystrokes.push_back(timer.nsecsElapsed() / 1e6);
            timer.start();
            matchAllOnTwoThreads(text, images);
            twoThreads.push_back(timer.nsecsElapsed() / 1e6);
            timer.start();
            search.type(text);
            narrowing.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("filter.matches[%s]: %d\n", qPrintable(query), matchAll(query, images));
    }
    for (auto* times : { &keystrokes, &twoThreads, &narrowing })
        std::sort(times->begin(), times->end());

    // The same typing into the model of a folder of these images.
    QTemporaryDir folder;
    QImage pixels(16, 16, QImage::Format_RGBA8888);
    pixels.fill(Qt::darkCyan);
    for (int i = 0; i < recordCount; ++i) {
        const QString path = folder.filePath(QStringLiteral("%1/%2").arg(i % 5).arg(images[std::size_t(i)].fileName));
        QDir().mkpath(QFileInfo(path).path());
        if (!PNGChunkWriter(16, 16)
                 .tEXt("Description", limnoraText(images[std::size_t(i)].record))
                 .imageData(pixels)
                 .end()
                 .writeTo(path))
            return 1;
    }
    // First while the folder is read for the first time (its index is empty), then once it is read.
    const std::vector<double> whileReading = keystrokesThroughTheModel(folder.path(), typed, true);
    const std::vector<double> throughModel = keystrokesThroughTheModel(folder.path(), typed, false);
    if (throughModel.empty() || whileReading.empty()) {
        std::fprintf(stderr, "bench_filter: the folder's metadata was not read in time\n");
        return 1;
    }

    // The reference: grep over the same prompts, one per line, process start included.
    QTemporaryDir dir;
    QFile prompts(dir.filePath(QStringLiteral("prompts.txt")));
    if (!prompts.open(QIODevice::WriteOnly))
        return 1;
    for (const Image& image : images)
        prompts.write(image.record.prompt.toUtf8() + '\n');
    prompts.close();
    timer.start();
    const int matching = matchAll(QStringLiteral("lighthouse"), images);
    const double queryMs = timer.nsecsElapsed() / 1e6;
    QProcess grep;
    timer.start();
    grep.start(QStringLiteral("grep"),
        { QStringLiteral("-c"), QStringLiteral("-i"), QStringLiteral("lighthouse"), prompts.fileName() });
    grep.waitForFinished();
    const double grepMs = timer.nsecsElapsed() / 1e6;
    const int grepCount = grep.readAllStandardOutput().trimmed().toInt();

    std::printf("filter.records: %d\n", recordCount);
    std::printf("filter.keystrokes: %zu\n", keystrokes.size());
    std::printf("filter.worst_keystroke_ms_100k: %.2f\n", throughModel.back());
    std::printf("filter.median_keystroke_ms_100k: %.2f\n", throughModel[throughModel.size() / 2]);
    std::printf("filter.keystrokes_while_reading: %zu\n", whileReading.size());
    std::printf("filter.worst_keystroke_ms_100k_while_reading: %.2f\n", whileReading.back());
    std::printf("filter.median_keystroke_ms_100k_while_reading: %.2f\n", whileReading[whileReading.size() / 2]);
    std::printf("filter.match_all_worst_ms_100k: %.2f\n", keystrokes.back());
    std::printf("filter.match_all_median_ms_100k: %.2f\n", keystrokes[keystrokes.size() / 2]);
    std::printf("filter.worst_keystroke_ms_100k_two_threads: %.2f\n", twoThreads.back());
    std::printf("filter.median_keystroke_ms_100k_two_threads: %.2f\n", twoThreads[twoThreads.size() / 2]);
    std::printf("filter.worst_keystroke_ms_100k_narrowing: %.2f\n", narrowing.back());
    std::printf("filter.median_keystroke_ms_100k_narrowing: %.2f\n", narrowing[narrowing.size() / 2]);
    std::printf("filter.lighthouse_ms_100k: %.2f\n", queryMs);
    std::printf("filter.grep_ms_100k: %.2f\n", grepMs);
    std::printf("filter.ratio_lighthouse_vs_grep: %.2f\n", queryMs / grepMs);
    std::printf("filter.lighthouse_matches: %d\n", matching);
    std::printf("filter.grep_matches: %d\n", grepCount);
    std::printf("filter.peak_rss_mb: %.1f\n", bench::peakResidentMB());
    return matching == grepCount ? 0 : 1;
}
