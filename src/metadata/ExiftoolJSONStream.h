#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QUrl>

namespace limnoscope {

// Reads exiftool's JSON output, one array of objects, while the child is still printing it:
// each object is parsed as soon as it is whole and then dropped, so that the whole output is
// never held. A file whose answer is too long is skipped (exiftool answered, without a usable
// text) and the rest of the batch keeps its texts. Lives on the thread that runs the child.
class ExiftoolJSONStream
{
public:
    enum class State { Reading, Complete, Failed };

    // An object longer than this is skipped: no generation text comes near it.
    static constexpr qsizetype maxEntryBytes = 16 * 1024 * 1024;
    // The objects kept, together; those beyond are skipped in the same way.
    static constexpr qsizetype maxKeptBytes = 64 * 1024 * 1024;
    // Output beyond this is a child gone wrong (garbage, an object that never ends).
    static constexpr qint64 maxOutputBytes = qint64(1) << 30;
    // Real answers nest three levels deep; deeper is not exiftool's output.
    static constexpr int maxNestingDepth = 64;

    // Takes the next piece of output; Failed as soon as it cannot be such an array.
    State feed(QByteArrayView bytes);
    // The output has ended: Complete when it held a whole array, Failed otherwise.
    State finish();

    [[nodiscard]] State state() const { return m_state; }
    // The texts found so far; a text may end in the render-time marker.
    [[nodiscard]] const QHash<QUrl, QString>& texts() const { return m_texts; }
    [[nodiscard]] QHash<QUrl, QString> takeTexts() { return std::move(m_texts); }

private:
    enum class Phase { BeforeArray, BeforeFirstEntry, InEntry, AfterEntry, AfterComma, AfterArray };

    State fail();
    void beginEntry();
    void keep(QByteArrayView bytes);
    void endEntry();
    [[nodiscard]] qsizetype scanEntry(QByteArrayView bytes);

    State m_state = State::Reading;
    Phase m_phase = Phase::BeforeArray;
    qint64 m_totalBytes = 0;
    qsizetype m_keptBytes = 0;
    QHash<QUrl, QString> m_texts;

    // The object being read: its bytes while it is kept, and where the scan stands in it.
    QByteArray m_entry;
    qsizetype m_entryBytes = 0;
    bool m_skipping = false;
    int m_depth = 0;
    bool m_inString = false;
    bool m_escaped = false;
};

} // namespace limnoscope
