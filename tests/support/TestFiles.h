#pragma once

#include "PNGChunkWriter.h"

#include <QByteArray>
#include <QString>

namespace limnoscope::test {

// Writes `bytes` to `path`, creating missing parent folders. Fails the test on error.
void writeFile(const QString &path, const QByteArray &bytes);

// A small valid PNG (w x h, one colour) carrying a "Description" tEXt chunk before its pixels.
QByteArray pngWithDescription(const QByteArray &latin1Text, int width = 8, int height = 8);

// A realistic Limnora metadata text: prompt, "-" negative prompt line, settings line.
QString sampleLimnoraText(int seed = 1234);

} // namespace limnoscope::test
