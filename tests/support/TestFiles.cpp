#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

namespace limnoscope::test {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable(QStringLiteral("cannot write %1").arg(path)));
}

QByteArray pngWithDescription(const QByteArray &latin1Text, int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(Qt::darkCyan);
    return PNGChunkWriter(width, height).tEXt("Description", latin1Text).imageData(image).end().bytes();
}

QString sampleLimnoraText(int seed)
{
    return QStringLiteral("a lighthouse on a cliff at dusk, volumetric light, highly detailed\n"
                          "-blurry, low quality, watermark\n"
                          "Steps: 30, Sampler: DPM++ 2M Karras, Guidance Scale: 5.5, Seed: %1, "
                          "Size: 832x1216, Model: limnora_xl_v2.ckpt, Strength: 1.0, Seed Mode: Scale Alike, "
                          "LoRA 1 Model: film_grain.safetensors, LoRA 1 Weight: 0.6")
        .arg(seed);
}

} // namespace limnoscope::test
