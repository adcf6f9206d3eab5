#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryFile>
#include <QTimer>

namespace limnoscope::test {

// Sends standard output into a file while it lives, for code that logs there. On a failed test
// the captured text is echoed to standard error. Lives on the test's thread.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    [[nodiscard]] QString text() const;
    // The "Limnoscope: " log lines only: the test framework may write lines of its own meanwhile.
    [[nodiscard]] QStringList logLines() const;

private:
    QTemporaryFile m_file;
    int m_savedFd = -1;
};

// The longest gap between the ticks of a timer on the test's thread while it lives: how long
// the event loop was held up.
class EventLoopStallMeter
{
public:
    static constexpr int tickIntervalMs = 10;

    EventLoopStallMeter();
    [[nodiscard]] qint64 longestGapMs() const { return m_longestGapMs; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longestGapMs = 0;
};

// Whether memory peaks mean anything in this build: AddressSanitizer pads and quarantines memory.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool checksMemoryBounds = false;
#else
inline constexpr bool checksMemoryBounds = true;
#endif

// The peak resident memory of this process so far, in KiB.
[[nodiscard]] long peakResidentKB();

} // namespace limnoscope::test
