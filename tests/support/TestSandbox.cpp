#include "TestSandbox.h"

#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTcpServer>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace limnoscope::test {

TestSandbox::TestSandbox()
{
    if (!m_dir.isValid())
        qFatal("cannot create a temporary folder: %s", qPrintable(m_dir.errorString()));
}

QList<QUrl> TestSandbox::urls(const QStringList& names) const
{
    QList<QUrl> urls;
    for (const QString& name : names)
        urls.append(url(name));
    return urls;
}

void TestSandbox::writeImages(const QStringList& names, int firstSeed) const
{
    int seed = firstSeed;
    for (const QString& name : names)
        writeFile(filePath(name), pngWithDescription(sampleLimnoraText(seed++).toLatin1()));
}

void TestSandbox::isolateHome() const
{
    // Made at once: GIO keeps the Trash of a home it can find.
    const std::pair<const char*, const char*> homes[] = { { "HOME", "home" }, { "XDG_DATA_HOME", "data" },
        { "XDG_CONFIG_HOME", "config" }, { "XDG_CACHE_HOME", "cache" } };
    for (const auto& [variable, name] : homes) {
        QDir().mkpath(filePath(QString::fromLatin1(name)));
        qputenv(variable, QFile::encodeName(filePath(QString::fromLatin1(name))));
    }
    usePreferencesIn(filePath(QStringLiteral("config")));
}

QStringList numberedNames(int count, const QString& prefix)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(QStringLiteral("%1%2.png").arg(prefix).arg(i, 4, 10, QLatin1Char('0')));
    return names;
}

QStringList fileNames(const QList<QUrl>& urls)
{
    QStringList names;
    for (const QUrl& url : urls)
        names.append(url.fileName());
    return names;
}

namespace {

class EnglishTexts : public QTranslator
{
public:
    EnglishTexts()
    {
        QFile source(sourceTreeRoot() + QStringLiteral("/translations/limnoscope_en.ts"));
        if (!source.open(QIODevice::ReadOnly))
            qFatal("cannot read the English translation source");
        QXmlStreamReader xml(&source);
        QString id;
        while (xml.readNextStartElement() || !xml.atEnd()) {
            if (xml.name() == u"message")
                id = xml.attributes().value(QStringLiteral("id")).toString();
            else if (xml.name() == u"translation")
                m_texts.insert(id, xml.readElementText(QXmlStreamReader::IncludeChildElements));
        }
    }
    QString translate(const char*, const char* id, const char*, int) const override { return m_texts.value(id); }
    bool isEmpty() const override { return false; }

private:
    QHash<QString, QString> m_texts;
};

} // namespace

void installEnglishTexts()
{
    static EnglishTexts texts;
    QCoreApplication::installTranslator(&texts);
}

quint16 unusedLocalPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("cannot listen on 127.0.0.1");
    return server.serverPort();
}

} // namespace limnoscope::test
