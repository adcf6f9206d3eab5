#include "FileTags.h"
#include "FinderTag.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <sys/xattr.h>

#include <cerrno>

using namespace limnoscope;

Q_DECLARE_METATYPE(FinderTag)

namespace {

const QString red = QStringLiteral("Red\n6");
const QString blue = QStringLiteral("Blue\n4");
const QString gray = QStringLiteral("Gray\n1");

QByteArray xmlPlist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
        + body + "\n</plist>\n";
}

// A binary property list of `depth` arrays, each holding the next: one-byte references and
// two-byte offsets.
QByteArray nestedBinaryPlist(int depth)
{
    QByteArray bytes("bplist00");
    QList<int> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets.append(int(bytes.size()));
        if (i == depth - 1) {
            bytes.append(char(0xA0));
        } else {
            bytes.append(char(0xA2));
            bytes.append(char(((i + 1) >> 8) & 0xff));
            bytes.append(char((i + 1) & 0xff));
        }
    }
    const int tableStart = int(bytes.size());
    for (int offset : offsets) {
        bytes.append(char((offset >> 8) & 0xff));
        bytes.append(char(offset & 0xff));
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2; // offset width
    trailer[7] = 2; // reference width
    for (int i = 0; i < 8; ++i) {
        trailer[8 + 7 - i] = char((quint64(depth) >> (8 * i)) & 0xff);
        trailer[24 + 7 - i] = char((quint64(tableStart) >> (8 * i)) & 0xff);
    }
    return bytes + trailer;
}

} // namespace

class FileTagsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void rawValues_data();
    void rawValues();
    void tagTable_data();
    void tagTable();

    void toggle_data();
    void toggle();
    void togglingTwiceRestoresTheEntries();
    void writesBinaryPropertyList();
    void repeatedEntriesAreAllRead();
    void readsXmlPropertyList();
    void damagedAttribute_data();
    void damagedAttribute();
    void removeAllTags();
    void missingFile();
    void fileSystemWithoutAttributes();
    void symbolicLinksAreFollowed();

private:
    QString newFile(const QString& name = QStringLiteral("image.png"));
    void setRaw(const QString& path, const QByteArray& value);
    [[nodiscard]] bool hasAttribute(const QString& path) const;

    static constexpr uint smallStackBytes = 256 * 1024;
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_tmpfsDir { QStringLiteral("/dev/shm/limnoscope-tags-XXXXXX") };
};

void FileTagsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString FileTagsTest::newFile(const QString& name)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot create %s", qPrintable(path));
    file.write("x");
    return path;
}

void FileTagsTest::setRaw(const QString& path, const QByteArray& value)
{
    const int result = ::setxattr(
        QFile::encodeName(path).constData(), tagAttributeName(), value.constData(), size_t(value.size()), 0);
    if (result != 0)
        qFatal("setxattr failed: %s", strerror(errno));
}

bool FileTagsTest::hasAttribute(const QString& path) const
{
    return ::getxattr(QFile::encodeName(path).constData(), tagAttributeName(), nullptr, 0) >= 0;
}

void FileTagsTest::rawValues_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<bool>("valid");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("7") << 7 << true;
    QTest::newRow("8") << 8 << false;
    QTest::newRow("-1") << -1 << false;
}

void FileTagsTest::rawValues()
{
    QFETCH(int, raw);
    QFETCH(bool, valid);
    const auto tag = finderTagFromRawValue(raw);
    QCOMPARE(tag.has_value(), valid);
    if (valid)
        QCOMPARE(rawValue(*tag), raw);
}

void FileTagsTest::tagTable_data()
{
    QTest::addColumn<FinderTag>("tag");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("digit");
    QTest::newRow("red") << FinderTag::red << "Red\n6"
                         << "tag_red"
                         << "1";
    QTest::newRow("orange") << FinderTag::orange << "Orange\n7"
                            << "tag_orange"
                            << "2";
    QTest::newRow("yellow") << FinderTag::yellow << "Yellow\n5"
                            << "tag_yellow"
                            << "3";
    QTest::newRow("green") << FinderTag::green << "Green\n2"
                           << "tag_green"
                           << "4";
    QTest::newRow("blue") << FinderTag::blue << "Blue\n4"
                          << "tag_blue"
                          << "5";
    QTest::newRow("purple") << FinderTag::purple << "Purple\n3"
                            << "tag_purple"
                            << "6";
    QTest::newRow("gray") << FinderTag::gray << "Gray\n1"
                          << "tag_gray"
                          << "7";
}

void FileTagsTest::tagTable()
{
    QFETCH(FinderTag, tag);
    QFETCH(QString, entry);
    QFETCH(QString, key);
    QFETCH(QString, digit);
    QCOMPARE(attributeEntry(tag), entry);
    QCOMPARE(localizationKey(tag), key);
    QCOMPARE(shortcutDigit(tag), digit);
    QVERIFY(!localizedName(tag).isEmpty());
    QVERIFY(tagColor(tag).isValid());
    QCOMPARE(allFinderTags[std::size_t(rawValue(tag) - 1)], tag);
}

void FileTagsTest::toggle_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<FinderTag>("tag");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<bool>("attributeKept");

    QTest::newRow("untagged file gets red") << QStringList() << FinderTag::red << QStringList { red } << true;
    QTest::newRow("red removed, user tag and blue keep their places")
        << QStringList { "Work", red, blue } << FinderTag::red << QStringList { "Work", blue } << true;
    QTest::newRow("red appended after the others")
        << QStringList { "Work", blue } << FinderTag::red << QStringList { "Work", blue, red } << true;
    QTest::newRow("capital RED without line feed is red")
        << QStringList { "RED", blue } << FinderTag::red << QStringList { blue } << true;
    QTest::newRow("every red entry removed")
        << QStringList { red, "Work", "red\n99" } << FinderTag::red << QStringList { "Work" } << true;
    QTest::newRow("Grey with label 1 is not gray")
        << QStringList { "Grey\n1" } << FinderTag::gray << QStringList { "Grey\n1", gray } << true;
    QTest::newRow("Grey survives gray off")
        << QStringList { "Grey\n1", gray } << FinderTag::gray << QStringList { "Grey\n1" } << true;
    QTest::newRow("label number alone does not match")
        << QStringList { "Rouge\n6" } << FinderTag::red << QStringList { "Rouge\n6", red } << true;
    QTest::newRow("last colour tag off removes the attribute")
        << QStringList { blue } << FinderTag::blue << QStringList() << false;
    QTest::newRow("non-ASCII user tag kept") << QStringList { QStringLiteral("Wörk 🏷"), red } << FinderTag::red
                                             << QStringList { QStringLiteral("Wörk 🏷") } << true;
}

void FileTagsTest::toggle()
{
    QFETCH(QStringList, before);
    QFETCH(FinderTag, tag);
    QFETCH(QStringList, after);
    QFETCH(bool, attributeKept);

    const QString path = newFile();
    const QUrl url = QUrl::fromLocalFile(path);
    if (!before.isEmpty())
        QVERIFY(writeTagEntries(before, url));
    QCOMPARE(readTagEntries(url), before);

    QVERIFY(toggleTag(tag, url));
    QCOMPARE(readTagEntries(url), after);
    QCOMPARE(hasAttribute(path), attributeKept);
}

void FileTagsTest::togglingTwiceRestoresTheEntries()
{
    const QUrl url = QUrl::fromLocalFile(newFile());
    const QStringList entries { "Work", red, blue };
    QVERIFY(writeTagEntries(entries, url));
    QVERIFY(toggleTag(FinderTag::red, url));
    QCOMPARE(readTags(url), QList<FinderTag> { FinderTag::blue });
    QVERIFY(toggleTag(FinderTag::red, url));
    QCOMPARE(readTagEntries(url), (QStringList { "Work", blue, red }));
    QCOMPARE(readTags(url), (QList<FinderTag> { FinderTag::blue, FinderTag::red }));
}

void FileTagsTest::writesBinaryPropertyList()
{
    const QUrl url = QUrl::fromLocalFile(newFile());
    QVERIFY(toggleTag(FinderTag::green, url));
    const auto data = readTagData(url);
    QVERIFY(data);
    QVERIFY(data->startsWith("bplist00"));
    QVERIFY(data->contains("Green\n2"));
}

void FileTagsTest::repeatedEntriesAreAllRead()
{
    const QUrl url = QUrl::fromLocalFile(newFile());
    QVERIFY(writeTagEntries({ red, "Work", "red", "Purple\n3" }, url));
    QCOMPARE(readTags(url), (QList<FinderTag> { FinderTag::red, FinderTag::red, FinderTag::purple }));
}

void FileTagsTest::readsXmlPropertyList()
{
    const QString path = newFile();
    setRaw(path,
        xmlPlist("<array>\n\t<string>Green\n2</string>\n\t<string>Caf&#233; &amp; Work</string>\n"
                 "\t<string>orange</string>\n</array>"));
    const QUrl url = QUrl::fromLocalFile(path);
    QCOMPARE(readTags(url), (QList<FinderTag> { FinderTag::green, FinderTag::orange }));
    QCOMPARE(readTagEntries(url).at(1), QStringLiteral("Café & Work"));

    QVERIFY(toggleTag(FinderTag::green, url));
    QCOMPARE(readTagEntries(url), (QStringList { QStringLiteral("Café & Work"), "orange" }));
    QVERIFY(readTagData(url)->startsWith("bplist00"));
}

void FileTagsTest::damagedAttribute_data()
{
    QTest::addColumn<QByteArray>("value");

    QByteArray validBinary;
    {
        QTemporaryDir scratchDir;
        QVERIFY(scratchDir.isValid());
        const QString scratch = scratchDir.filePath(QStringLiteral("scratch"));
        QFile file(scratch);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(writeTagEntries({ red, "Work", blue }, QUrl::fromLocalFile(scratch)));
        validBinary = *readTagData(QUrl::fromLocalFile(scratch));
    }
    QTest::newRow("plain text") << QByteArray("Red\n6");
    QTest::newRow("zero bytes") << QByteArray(64, '\0');
    QTest::newRow("binary magic only") << QByteArray("bplist00");
    QTest::newRow("truncated binary") << validBinary.left(validBinary.size() - 5);
    QTest::newRow("binary cut in the middle") << validBinary.left(validBinary.size() / 2);
    QTest::newRow("binary with trashed trailer") << validBinary.left(validBinary.size() - 32) + QByteArray(32, '\xff');
    QTest::newRow("xml root is a string") << xmlPlist("<string>Red\n6</string>");
    QTest::newRow("xml root is a dict") << xmlPlist("<dict><key>a</key><string>Red</string></dict>");
    QTest::newRow("xml array with a number") << xmlPlist("<array><string>Red\n6</string><integer>6</integer></array>");
    QTest::newRow("xml array holding an array") << xmlPlist("<array><array><string>Red</string></array></array>");
    QTest::newRow("unterminated xml") << xmlPlist("<array><string>Red\n6</string>").left(150);
    QTest::newRow("64 KiB of noise") << QByteArray(64 * 1024, '\x5a');
    QTest::newRow("xml nested 4000 deep")
        << xmlPlist(QByteArray("<array>").repeated(4000) + QByteArray("</array>").repeated(4000));
    QTest::newRow("binary nested 3000 deep") << nestedBinaryPlist(3000);
}

void FileTagsTest::damagedAttribute()
{
    QFETCH(QByteArray, value);
    // ext4 keeps values up to about 4 KB; tmpfs up to 64 KiB.
    const bool large = value.size() > 3000;
    if (large && !m_tmpfsDir.isValid())
        QSKIP("no tmpfs folder for large attribute values");
    const QString path = large ? m_tmpfsDir.filePath(QStringLiteral("large.png")) : newFile();
    if (large) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (::setxattr(QFile::encodeName(path).constData(), tagAttributeName(), value.constData(), size_t(value.size()), 0)
        != 0)
        QSKIP(qPrintable(QStringLiteral("this file system keeps no attribute of %1 bytes").arg(value.size())));
    const QUrl url = QUrl::fromLocalFile(path);

    QCOMPARE(readTagEntries(url), QStringList());
    QCOMPARE(readTags(url), QList<FinderTag>());

    // Tags are also read on worker threads, whose stacks may be far smaller than the main one.
    QList<FinderTag> readOnSmallStack { FinderTag::gray };
    std::unique_ptr<QThread> worker(QThread::create([&] { readOnSmallStack = readTags(url); }));
    worker->setStackSize(smallStackBytes);
    worker->start();
    QVERIFY(worker->wait(10000));
    QCOMPARE(readOnSmallStack, QList<FinderTag>());

    QVERIFY(toggleTag(FinderTag::red, url));
    QCOMPARE(readTagEntries(url), QStringList { red });
}

void FileTagsTest::removeAllTags()
{
    const QString path = newFile();
    const QUrl url = QUrl::fromLocalFile(path);
    QVERIFY(writeTagEntries({ "Work", red }, url));
    limnoscope::removeAllTags(url);
    QVERIFY(!hasAttribute(path));
    QVERIFY(writeTagEntries({}, url)); // nothing to remove is a success
    QVERIFY(!hasAttribute(path));
}

void FileTagsTest::missingFile()
{
    const QUrl url = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("gone.png")));
    QCOMPARE(readTags(url), QList<FinderTag>());
    QVERIFY(!readTagData(url));
    QVERIFY(!toggleTag(FinderTag::red, url));
    QVERIFY(!writeTagEntries({}, url));
    QVERIFY(!QFile::exists(url.toLocalFile()));
    QVERIFY(!writeTagEntries({ red }, QUrl(QStringLiteral("http://127.0.0.1/image.png"))));
}

void FileTagsTest::fileSystemWithoutAttributes()
{
    // procfs keeps no user attributes.
    const QUrl url = QUrl::fromLocalFile(QStringLiteral("/proc/self/comm"));
    QVERIFY(QFile::exists(url.toLocalFile()));
    QVERIFY(!toggleTag(FinderTag::red, url));
    QCOMPARE(readTags(url), QList<FinderTag>());
    QVERIFY(writeTagEntries({}, url));
}

void FileTagsTest::symbolicLinksAreFollowed()
{
    const QString target = newFile();
    const QString link = m_dir->filePath(QStringLiteral("link.png"));
    QVERIFY(QFile::link(target, link));
    QVERIFY(toggleTag(FinderTag::purple, QUrl::fromLocalFile(link)));
    QCOMPARE(readTags(QUrl::fromLocalFile(target)), QList<FinderTag> { FinderTag::purple });
    QCOMPARE(readTags(QUrl::fromLocalFile(link)), QList<FinderTag> { FinderTag::purple });
}

QTEST_GUILESS_MAIN(FileTagsTest)
#include "tst_FileTags.moc"
