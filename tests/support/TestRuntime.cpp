#include "TestRuntime.h"

#include <QTest>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace limnoscope::test {

StdoutCapture::StdoutCapture()
{
    if (!m_file.open())
        qFatal("cannot create a capture file");
    std::fflush(stdout);
    m_savedFd = ::dup(STDOUT_FILENO);
    ::dup2(m_file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(m_savedFd, STDOUT_FILENO);
    ::close(m_savedFd);
    if (QTest::currentTestFailed())
        std::fprintf(stderr, "captured output:\n%s\n", text().toLocal8Bit().constData());
}

QString StdoutCapture::text() const
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList StdoutCapture::logLines() const
{
    QStringList lines;
    for (const QString& line : text().split(u'\n'))
        if (line.startsWith(QLatin1String("Limnoscope: ")))
            lines.append(line);
    return lines;
}

EventLoopStallMeter::EventLoopStallMeter()
{
    m_clock.start();
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(
        &m_timer, &QTimer::timeout, &m_timer, [this] { m_longestGapMs = std::max(m_longestGapMs, m_clock.restart()); });
    m_timer.start(tickIntervalMs);
}

long peakResidentKB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace limnoscope::test
