#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTest>

namespace limnoscope::test {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        QFAIL(qPrintable(QStringLiteral("cannot write %1").arg(path)));
}

QByteArray pngWithDescription(const QByteArray& latin1Text, int width, int height)
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

QString sourceTreeRoot()
{
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../.."));
}

} // namespace limnoscope::test

#include <QCoreApplication>
#include <QProcess>
#include <QSettings>

namespace limnoscope::test {

void usePreferencesIn(const QString& folder)
{
    QCoreApplication::setOrganizationName(QStringLiteral("LimnoscopeTests"));
    QCoreApplication::setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

void runExiftool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/exiftool"),
        QStringList { QStringLiteral("-q"), QStringLiteral("-overwrite_original") } + arguments);
    QVERIFY2(process.waitForFinished(60'000), "exiftool did not finish");
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
        process.readAllStandardError().constData());
}

QByteArray xmpPacket(const QByteArray& properties)
{
    return "<?xpacket begin='\xef\xbb\xbf' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
           "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
           "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
           "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'"
           " xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:exif='http://ns.adobe.com/exif/1.0/'"
           " xmlns:lim='http://example.com/limnora/'>\n"
        + properties + "\n</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end='w'?>";
}

void writeImage(const QString& path, const char* format, int width, int height)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(200, 120, 40));
    QVERIFY2(image.save(path, format), qPrintable(QStringLiteral("cannot write %1").arg(path)));
}

QByteArray fakeExiftool(const QByteArray& singleFile, const QByteArray& batch)
{
    return "case \" $* \" in\n  *' -json '*)\n" + batch + "\n    ;;\n  *)\n" + singleFile + "\n    ;;\nesac\n";
}

void installFakeExiftool(const QString& resources, const QByteArray& script)
{
    writeFile(resources + "/exiftool", "#!/bin/sh\n" + script);
    QFile::setPermissions(resources + "/exiftool", QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace limnoscope::test
