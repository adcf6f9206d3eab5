#pragma once

// What several benchmarks share: generated names and texts, a port nothing listens on, and the
// process's peak memory.

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QLatin1Char>
#include <QString>
#include <QTcpServer>

namespace limnoscope::bench {

// Image names as generators and people give them: plain numbers, seeds, prompts, dates.
inline QString variedImageName(int i)
{
    switch (i % 5) {
    case 0:
        return QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0'));
    case 1:
        return QStringLiteral("limnora_%1_seed_%2").arg(i, 6, 10, QLatin1Char('0')).arg(i * 7919);
    case 2:
        return QStringLiteral("a cat in space wearing a very fancy hat %1").arg(i);
    case 3:
        return QStringLiteral("2024-05-12-10-33-12-%1-portrait of an old sailor with a pipe, oil painting").arg(i);
    default:
        return QStringLiteral("img%1").arg(i);
    }
}

// A short Limnora text (prompt, negative prompt, settings line) carrying `seed`.
inline QByteArray shortLimnoraText(int seed)
{
    return QByteArrayLiteral("a lighthouse on a cliff at dusk, volumetric light\n-blurry, low quality\n"
                             "Steps: 30, Sampler: DPM++ 2M Karras, Guidance Scale: 5.5, Seed: ")
        + QByteArray::number(seed) + QByteArrayLiteral(", Size: 832x1216, Model: limnora_xl_v2.ckpt");
}

// A port nothing listens on, for the API client's status checks.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The most memory the process has held, in megabytes; -1 when it cannot be read.
inline double peakResidentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

} // namespace limnoscope::bench
