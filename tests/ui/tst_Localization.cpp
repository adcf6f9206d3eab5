#include "FinderTag.h"
#include "Localization.h"
#include "SortOrder.h"
#include "TagContextMenu.h"
#include "TestFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

using namespace limnoscope;

namespace {

// The message ids of a translation source file, in file order.
QStringList idsInTranslationSource(const QString& language)
{
    QFile file(test::sourceTreeRoot() + QStringLiteral("/translations/limnoscope_%1.ts").arg(language));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList ids;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("message"))
            ids.append(xml.attributes().value(QLatin1String("id")).toString());
    }
    return xml.hasError() ? QStringList {} : ids;
}

// The text of every source file under src/, by file name.
QList<std::pair<QString, QString>> sourceTexts()
{
    QList<std::pair<QString, QString>> texts;
    QDirIterator files(test::sourceTreeRoot() + QStringLiteral("/src"),
        { QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly))
            texts.append({ files.fileName(), QString::fromUtf8(file.readAll()) });
    }
    return texts;
}

// The literal keys handed to qtTrId, QT_TRID_NOOP or localizedFormat, both sides of a conditional too.
QMap<QString, QString> keysUsedInSources()
{
    // Spelled without raw strings: moc's preprocessor does not understand them.
    const QString literal = QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"");
    static const QRegularExpression call(QStringLiteral("(?:(?:qtTrId|QT_TRID_"
                                                        "NOOP|localizedFormat)\\s*\\(\\s*|qtTrId\\s*\\([^;\"]*\\?\\s*)")
        + literal + QStringLiteral("(?:\\s*:\\s*") + literal + QStringLiteral(")?"));
    QMap<QString, QString> keys; // key -> file where it was first seen
    for (const auto& [fileName, text] : sourceTexts())
        for (const QRegularExpressionMatch& match : call.globalMatch(text))
            for (int side = 1; side <= 2 && match.hasCaptured(side); ++side)
                keys.insert(match.captured(side), fileName);
    keys.remove(QStringLiteral("key")); // the comment example in Localization.h
    return keys;
}

// The argument places of a text: "%1", "%2", ... and printf-style "%lld", "%@", counted.
QStringList argumentPlaces(const QString& text)
{
    static const QRegularExpression place(QStringLiteral("%(\\d+|lld|ld|d|@)"));
    QStringList places;
    for (const QRegularExpressionMatch& match : place.globalMatch(text))
        places.append(match.captured(0));
    places.sort();
    return places;
}

QString compiledText(const QTranslator& translator, const QString& key)
{
    return translator.translate(nullptr, key.toUtf8().constData());
}

} // namespace

class TestLocalization : public QObject
{
    Q_OBJECT

private:
    QTranslator m_english;
    QTranslator m_german;
    QStringList m_englishKeys;

private slots:
    void initTestCase()
    {
        QVERIFY(m_english.load(QStringLiteral(":/i18n/limnoscope_en.qm")));
        QVERIFY(m_german.load(QStringLiteral(":/i18n/limnoscope_de.qm")));
        m_englishKeys = idsInTranslationSource(QStringLiteral("en"));
        QVERIFY(m_englishKeys.size() > 40);
    }

    void cleanup()
    {
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QLocale::setDefault(QLocale::c());
    }

    // Every key the code uses or either source holds has a text in both languages, with the same arguments.
    void everyKeyHasBothTexts_data()
    {
        QTest::addColumn<QString>("key");
        QMap<QString, QString> keys = keysUsedInSources(); // key -> where it is used
        QVERIFY2(keys.size() > 20, "too few keys found in the sources");
        for (FinderTag tag : allFinderTags) // keys that reach qtTrId through a table of values
            keys.insert(localizationKey(tag), QStringLiteral("colour tags"));
        for (SortOrder order : SortOrders::all())
            keys.insert(QString::fromLatin1(SortOrders::displayKey(order)), QStringLiteral("sort orders"));
        const QStringList german = idsInTranslationSource(QStringLiteral("de"));
        QVERIFY(!german.isEmpty());
        for (const QString& key : german + m_englishKeys)
            keys.insert(key, keys.value(key, QStringLiteral("translations")));
        for (auto key = keys.cbegin(); key != keys.cend(); ++key)
            QTest::addRow("%s in %s", qPrintable(key.key()), qPrintable(key.value())) << key.key();
    }

    void everyKeyHasBothTexts()
    {
        QFETCH(QString, key);
        const QString english = compiledText(m_english, key);
        const QString german = compiledText(m_german, key);
        QVERIFY2(!english.isEmpty() && m_englishKeys.contains(key), "no English text for this key");
        QVERIFY2(!german.isEmpty(), "no German text for this key");
        QCOMPARE(argumentPlaces(german), argumentPlaces(english)); // otherwise one language shows a raw "%1"
    }

    // Qt's source-text translations (tr("...")) bypass the keys and so never reach German.
    void everyVisibleTextGoesThroughAKey()
    {
        static const QRegularExpression sourceTextCall(QStringLiteral("\\btr\\(\\s*\""));
        QStringList offenders;
        for (const auto& [fileName, text] : sourceTexts()) {
            const QStringList lines = text.split(u'\n');
            for (qsizetype line = 0; line < lines.size(); ++line)
                if (lines[line].contains(sourceTextCall))
                    offenders.append(QStringLiteral("%1:%2").arg(fileName).arg(line + 1));
        }
        QVERIFY2(
            offenders.isEmpty(), qPrintable(QStringLiteral("tr() instead of qtTrId() at ") + offenders.join(u' ')));
    }

    void installedLanguageFollowsLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("german");
        QTest::newRow("German, Germany") << QStringLiteral("de_DE") << true;
        QTest::newRow("German, Austria") << QStringLiteral("de_AT") << true;
        QTest::newRow("English, UK") << QStringLiteral("en_GB") << false;
        QTest::newRow("French: no translation, English") << QStringLiteral("fr_FR") << false;
        QTest::newRow("C locale: English") << QStringLiteral("C") << false;
    }

    void installedLanguageFollowsLocale()
    {
        QFETCH(QString, locale);
        QFETCH(bool, german);
        QLocale::setDefault(QLocale(locale));
        installTranslations(qApp);
        const QTranslator& expected = german ? m_german : m_english;
        int differing = 0;
        for (const QString& key : std::as_const(m_englishKeys)) {
            QCOMPARE(qtTrId(key.toUtf8().constData()), compiledText(expected, key));
            differing += compiledText(m_german, key) != compiledText(m_english, key) ? 1 : 0;
        }
        // The two languages must really differ, or this test could not tell them apart.
        QVERIFY(differing > m_englishKeys.size() / 2);
        // A text reached through a table of values, and Qt's own.
        const TagContextMenu menu(QUrl::fromLocalFile(QStringLiteral("/none.png")), {}, AppContext {});
        QVERIFY2(menu.actions().first()->text().endsWith(compiledText(expected, QStringLiteral("tag_red"))),
            qPrintable(menu.actions().first()->text()));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Cancel)->text().contains(QStringLiteral("Abbrechen")), german);
    }
};

QTEST_MAIN(TestLocalization)
#include "tst_Localization.moc"
