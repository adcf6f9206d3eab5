#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

namespace limnoscope::test {

// Four solid quadrants: red top left, green top right, blue bottom left, yellow bottom right.
QImage quadrants(int width, int height);
QImage solid(int width, int height, QColor colour);

// `image` encoded by Qt in `format` ("jpg", "png", "webp", "tiff").
QByteArray encoded(const QImage& image, const char* format);

// Writes `primary` as a HEIC file; when `thumbnailSource` is given, it is stored as the embedded
// thumbnail, scaled to fit `thumbnailBox` pixels. Fails the test on error.
void writeHEIC(const QString& path, const QImage& primary, const QImage& thumbnailSource = {}, int thumbnailBox = 0);

// Whether two colours are equal within a lossy codec's error.
bool isNear(QColor actual, QColor expected, int tolerance = 40);

} // namespace limnoscope::test
