// Regenerates the bundled sample folder: small procedural images carrying Limnora-style
// generation text, PNG (a "Description" tEXt chunk before the pixels) and JPEG (EXIF image
// description, with the render time as JSON in the EXIF user comment).
//
//   limnoscope-make-samples OUTPUT_FOLDER

#include "PNGChunkWriter.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRadialGradient>
#include <QTextStream>

#include <exiv2/exiv2.hpp>

#include <cstdio>

namespace {

struct Sample {
    QString relativePath;
    QString prompt;
    QString negative;
    QString settings;
    double seconds;
    QColor from;
    QColor to;
};

QImage paint(const Sample& sample)
{
    QImage image(384, 384, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, sample.from);
    sky.setColorAt(1, sample.to);
    painter.fillRect(image.rect(), sky);
    QRadialGradient sun(QPointF(260, 120), 70);
    sun.setColorAt(0, QColor(255, 245, 210));
    sun.setColorAt(1, QColor(255, 245, 210, 0));
    painter.setBrush(sun);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(260, 120), 70, 70);
    painter.setBrush(sample.to.darker(220));
    painter.drawPolygon(QPolygonF({ QPointF(0, 384), QPointF(0, 260), QPointF(120, 200), QPointF(230, 280),
        QPointF(384, 230), QPointF(384, 384) }));
    return image;
}

QString metadataText(const Sample& sample)
{
    QString text = sample.prompt;
    if (!sample.negative.isEmpty())
        text += QStringLiteral("\n-") + sample.negative;
    return text + u'\n' + sample.settings;
}

bool writeJpeg(const QString& path, const QImage& image, const Sample& sample)
{
    if (!image.save(path, "JPEG", 88))
        return false;
    try {
        auto file = Exiv2::ImageFactory::open(path.toStdString());
        file->readMetadata();
        Exiv2::ExifData& exif = file->exifData();
        exif["Exif.Image.ImageDescription"] = metadataText(sample).toStdString();
        const QString comment = QStringLiteral(R"({"profile":{"duration":%1}})").arg(sample.seconds);
        exif["Exif.Photo.UserComment"] = ("charset=Ascii " + comment).toStdString();
        file->writeMetadata();
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), error.what());
        return false;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: limnoscope-make-samples OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString settingsTail
        = QStringLiteral(", Seed Mode: Scale Alike, Strength: 1.0, Shift: 1.0, Batch Count: 1, Batch Size: 1");
    const QList<Sample> samples = {
        { "harbour-01.png", "a quiet fishing harbour at dawn, pastel sky, soft mist, 35mm photograph",
            "blurry, oversaturated, text, watermark",
            "Steps: 28, Sampler: DPM++ 2M Karras, Guidance Scale: 5.5, Seed: 1864201933, Size: 832x1216, "
            "Model: limnora_xl_v2_f16.ckpt"
                + settingsTail + ", LoRA 1 Model: film_grain_v3.safetensors, LoRA 1 Weight: 0.6",
            41.3, QColor(240, 190, 170), QColor(60, 90, 130) },
        { "harbour-02.png", "a quiet fishing harbour at dawn, pastel sky, soft mist, boats with red sails",
            "blurry, oversaturated",
            "Steps: 28, Sampler: DPM++ 2M Karras, Guidance Scale: 5.5, Seed: 1864201934, Size: 832x1216, "
            "Model: limnora_xl_v2_f16.ckpt"
                + settingsTail,
            39.8, QColor(250, 200, 160), QColor(50, 80, 120) },
        { "harbour-10.jpg", "harbour at night, lanterns reflected in calm water, long exposure", "",
            "Steps: 8, Sampler: Euler A Trailing, Guidance Scale: 1.0, Seed: 77, Size: 1024x1024, "
            "Model: limnora_turbo_q8p.ckpt, Hires Fix: true"
                + settingsTail,
            6.5, QColor(20, 30, 70), QColor(200, 140, 60) },
        { "portraits/astronaut 1.png", "portrait of an astronaut in a sunflower field, golden hour, bokeh",
            "deformed hands, extra fingers, lowres",
            "Steps: 30, Sampler: UniPC Trailing, Guidance Scale: 4.0, Seed: 4294967295, Size: 896x1152, "
            "Model: limnora_portrait_v1.ckpt"
                + settingsTail
                + ", LoRA 1 Model: bokeh_helper.safetensors, LoRA 1 Weight: 0.45, LoRA 2 Model: "
                  "warm_tones.safetensors, LoRA 2 Weight: 0.8",
            73.0, QColor(250, 210, 90), QColor(90, 120, 40) },
        { "portraits/astronaut 2.jpg", "portrait of an astronaut, studio lighting, dark background",
            "cartoon, painting",
            "Steps: 25, Sampler: DDIM, Guidance Scale: 6.0, Seed: 90210, Size: 768x1024, Model: "
            "limnora_portrait_v1.ckpt"
                + settingsTail,
            18.2, QColor(40, 40, 50), QColor(120, 110, 160) },
        { "landscapes/glacier.png", "a glacier valley under aurora, ultra wide, crisp detail", "people, buildings",
            "Steps: 40, Sampler: DPM++ SDE Karras, Guidance Scale: 7.0, Seed: 5, Size: 1216x832, "
            "Model: limnora_xl_v2_f16.ckpt, Refiner Model: limnora_refiner.ckpt, Upscaler: realesrgan_x2plus.zip"
                + settingsTail,
            125.0, QColor(30, 160, 140), QColor(20, 30, 60) },
        { "landscapes/dunes.jpg", "red sand dunes, wind ripples, minimal composition", "",
            "Steps: 20, Sampler: LCM, Guidance Scale: 1.5, Seed: 424242, Size: 1024x768, Model: limnora_lcm.ckpt"
                + settingsTail,
            4.0, QColor(250, 170, 110), QColor(170, 60, 40) },
    };

    for (const Sample& sample : samples) {
        const QString path = out.filePath(sample.relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QImage image = paint(sample);
        bool written = false;
        if (path.endsWith(QLatin1String(".png"))) {
            written = limnoscope::PNGChunkWriter(image.width(), image.height())
                          .tEXt("Description", metadataText(sample).toLatin1())
                          .imageData(image)
                          .end()
                          .writeTo(path);
        } else {
            written = writeJpeg(path, image, sample);
        }
        if (!written) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
