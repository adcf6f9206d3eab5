#include "FileTags.h"
#include "FinderTag.h"
#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <sys/xattr.h>

using namespace limnoscope;

namespace {

const QString red = QStringLiteral("Red\n6");
const QString blue = QStringLiteral("Blue\n4");
const QString gray = QStringLiteral("Gray\n1");
constexpr uint smallStackBytes = 256 * 1024; // worker threads' stacks may be small

QByteArray xmlPlist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n"
        + body + "\n</plist>\n";
}

void appendBigEndian(QByteArray& bytes, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

// A binary property list of these objects, given byte by byte; object 0 is the top.
QByteArray binaryPlist(const QList<QByteArray>& objects, int referenceWidth)
{
    QByteArray bytes("bplist00");
    QList<int> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(int(bytes.size()));
        bytes.append(object);
    }
    const int tableStart = int(bytes.size());
    for (int offset : offsets)
        appendBigEndian(bytes, quint64(offset), 2);
    bytes.append(QByteArray(6, '\0') + char(2) + char(referenceWidth));
    appendBigEndian(bytes, quint64(offsets.size()), 8);
    appendBigEndian(bytes, 0, 8); // top object
    appendBigEndian(bytes, quint64(tableStart), 8);
    return bytes;
}

bool setRaw(const QString& path, const QByteArray& value)
{
    return ::setxattr(
               QFile::encodeName(path).constData(), tagAttributeName(), value.constData(), size_t(value.size()), 0)
        == 0;
}

bool hasAttribute(const QString& path)
{
    return ::getxattr(QFile::encodeName(path).constData(), tagAttributeName(), nullptr, 0) >= 0;
}

} // namespace

class FileTagsTest : public QObject
{
    Q_OBJECT

private:
    QString newFile(const QString& name = QStringLiteral("image.png"))
    {
        test::writeFile(m_dir->filePath(name), "x");
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_tmpfsDir { QStringLiteral("/dev/shm/limnoscope-tags-XXXXXX") };

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    // Toggling a colour (0: remove all) keeps the user's entries in place; the last takes the attribute along.
    void toggle_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<int>("tag"); // raw value: 1 red ... 7 gray
        QTest::addColumn<QStringList>("after");

        const char* entries[] = { "Red\n6", "Orange\n7", "Yellow\n5", "Green\n2", "Blue\n4", "Purple\n3", "Gray\n1" };
        for (int raw = 1; raw <= 7; ++raw)
            QTest::addRow("untagged file gets %d", raw) << QStringList() << raw << QStringList { entries[raw - 1] };
        QTest::newRow("red removed, user tag and blue keep their places")
            << QStringList { "Work", red, blue } << 1 << QStringList { "Work", blue };
        QTest::newRow("red appended after the others")
            << QStringList { "Work", blue } << 1 << QStringList { "Work", blue, red };
        QTest::newRow("capital RED without line feed is red")
            << QStringList { "RED", blue } << 1 << QStringList { blue };
        QTest::newRow("every red entry removed")
            << QStringList { red, "Work", "red\n99" } << 1 << QStringList { "Work" };
        QTest::newRow("Grey with label 1 is not gray")
            << QStringList { "Grey\n1" } << 7 << QStringList { "Grey\n1", gray };
        QTest::newRow("Grey survives gray off") << QStringList { "Grey\n1", gray } << 7 << QStringList { "Grey\n1" };
        QTest::newRow("label number alone does not match")
            << QStringList { "Rouge\n6" } << 1 << QStringList { "Rouge\n6", red };
        QTest::newRow("last colour tag off removes the attribute") << QStringList { blue } << 5 << QStringList();
        QTest::newRow("non-ASCII user tag kept")
            << QStringList { QStringLiteral("Wörk 🏷"), red } << 1 << QStringList { QStringLiteral("Wörk 🏷") };
        QTest::newRow("all removed: colour tags only") << QStringList { red, blue } << 0 << QStringList();
        QTest::newRow("all removed: the user's own tags stay")
            << QStringList { "Project X", red, "Work", "GREEN" } << 0 << QStringList { "Project X", "Work" };
        QTest::newRow("all removed: no colour tag") << QStringList { "Project X" } << 0 << QStringList { "Project X" };
    }

    void toggle()
    {
        QFETCH(QStringList, before);
        QFETCH(int, tag);
        QFETCH(QStringList, after);
        const QString path = newFile();
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(writeTagEntries(before, url));
        QCOMPARE(readTagEntries(url), before);
        QVERIFY(tag ? toggleTag(*finderTagFromRawValue(tag), url) : limnoscope::removeAllTags(url));
        QCOMPARE(readTagEntries(url), after);
        QCOMPARE(hasAttribute(path), !after.isEmpty());
        // Written as a binary property list; ASCII texts are stored as they are.
        const QByteArray data = readTagData(url).value_or(QByteArray());
        QVERIFY(after.isEmpty() || data.startsWith("bplist00"));
        for (const QString& entry : after)
            QVERIFY(entry.toUtf8() != entry.toLatin1() || data.contains(entry.toLatin1()));
    }

    void foreignEntriesKeptByteForByte_data()
    {
        QTest::addColumn<QByteArray>("object"); // a string object of the stored array
        QTest::addColumn<QString>("text");
        const QByteArray longUTF16 = "\x6f\x10\x14" + QByteArray("\x00\xfc", 2).repeated(20);
        QTest::newRow("ASCII, zero byte") << QByteArray::fromHex("53610062") << QStringView(u"a\0b", 3).toString();
        QTest::newRow("Latin-1 bytes") << QByteArray::fromHex("54636166e9") << QStringLiteral("café");
        QTest::newRow("UTF-16 with a lone surrogate")
            << QByteArray("\x62\x00\x41\xd8\x00", 5) << QStringView(u"A\xd800", 2).toString();
        QTest::newRow("UTF-16, length after the head") << longUTF16 << QStringLiteral("ü").repeated(20);
    }

    // The user's own entries are written back as they were stored when a colour tag comes and goes.
    void foreignEntriesKeptByteForByte()
    {
        QFETCH(QByteArray, object);
        QFETCH(QString, text);
        const QString path = newFile();
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(
            setRaw(path, binaryPlist({ QByteArray("\xA2\x01\x02"), object, QByteArray("\x56") + blue.toLatin1() }, 1)));
        QCOMPARE(readTagEntries(url), (QStringList { text, blue }));
        QVERIFY(toggleTag(FinderTag::red, url));
        QCOMPARE(readTagEntries(url), (QStringList { text, blue, red }));
        QVERIFY(readTagData(url).value_or(QByteArray()).contains(object));
        QVERIFY(limnoscope::removeAllTags(url));
        QCOMPARE(readTagEntries(url), QStringList { text });
        QVERIFY(readTagData(url).value_or(QByteArray()).contains(object));
    }

    // Every colour entry is read, repeated ones too; an XML list is read and written back binary.
    void readsEveryEntryAndXml()
    {
        const QString path = newFile();
        const QUrl url = QUrl::fromLocalFile(path);
        QVERIFY(writeTagEntries({ red, "Work", "red", "Purple\n3" }, url));
        QCOMPARE(readTags(url), (QList<FinderTag> { FinderTag::red, FinderTag::red, FinderTag::purple }));
        QVERIFY(setRaw(path,
            xmlPlist("<array>\n\t<string>Green\n2</string>\n\t<string>Caf&#233; &amp; Work</string>\n"
                     "\t<string>orange</string>\n</array>")));
        QCOMPARE(readTags(url), (QList<FinderTag> { FinderTag::green, FinderTag::orange }));
        QVERIFY(toggleTag(FinderTag::green, url));
        QCOMPARE(readTagEntries(url), (QStringList { QStringLiteral("Café & Work"), "orange" }));
        QVERIFY(readTagData(url)->startsWith("bplist00"));
    }

    void damagedAttribute_data()
    {
        QTest::addColumn<QByteArray>("value");

        QTemporaryFile scratch;
        QVERIFY(scratch.open());
        QVERIFY(writeTagEntries({ red, "Work", blue }, QUrl::fromLocalFile(scratch.fileName())));
        const QByteArray valid = readTagData(QUrl::fromLocalFile(scratch.fileName())).value_or(QByteArray());
        QVERIFY(valid.startsWith("bplist00"));

        QTest::newRow("plain text") << QByteArray("Red\n6");
        QTest::newRow("binary magic only") << QByteArray("bplist00");
        QTest::newRow("truncated binary") << valid.left(valid.size() - 5);
        QTest::newRow("binary with trashed trailer") << valid.left(valid.size() - 32) + QByteArray(32, '\xff');
        QTest::newRow("xml root is a string") << xmlPlist("<string>Red\n6</string>");
        QTest::newRow("xml array with a number")
            << xmlPlist("<array><string>Red\n6</string><integer>6</integer></array>");
        QTest::newRow("xml array holding an array") << xmlPlist("<array><array><string>Red</string></array></array>");
        QTest::newRow("unterminated xml") << xmlPlist("<array><string>Red\n6</string>").left(150);
        QTest::newRow("64 KiB of noise") << QByteArray(64 * 1024, '\x5a');
        QTest::newRow("xml nested 4000 deep")
            << xmlPlist(QByteArray("<array>").repeated(4000) + QByteArray("</array>").repeated(4000));
        QList<QByteArray> nested; // each array refers to the next with two-byte references
        for (int i = 1; i < 3000; ++i)
            nested.append(QByteArray(1, char(0xA2)) + char(i >> 8) + char(i & 0xff));
        QTest::newRow("binary nested 3000 deep") << binaryPlist(nested << QByteArray(1, char(0xA0)), 2);
    }

    // Read as no tags (also on a small stack), and the next toggle starts afresh.
    void damagedAttribute()
    {
        QFETCH(QByteArray, value);
        // ext4 keeps values up to about 4 KB; tmpfs up to 64 KiB.
        const bool large = value.size() > 3000;
        if (large && !m_tmpfsDir.isValid())
            QSKIP("no tmpfs folder for large attribute values");
        const QString path = large ? m_tmpfsDir.filePath(QStringLiteral("large.png")) : newFile();
        test::writeFile(path, "x");
        if (!setRaw(path, value))
            QSKIP(qPrintable(QStringLiteral("this file system keeps no attribute of %1 bytes").arg(value.size())));
        const QUrl url = QUrl::fromLocalFile(path);

        QCOMPARE(readTagEntries(url), QStringList());
        QCOMPARE(readTags(url), QList<FinderTag>());
        QList<FinderTag> readOnSmallStack { FinderTag::gray };
        std::unique_ptr<QThread> worker(QThread::create([&] { readOnSmallStack = readTags(url); }));
        worker->setStackSize(smallStackBytes);
        worker->start();
        QVERIFY(worker->wait(10000));
        QCOMPARE(readOnSmallStack, QList<FinderTag>());

        QVERIFY(toggleTag(FinderTag::red, url));
        QCOMPARE(readTagEntries(url), QStringList { red });
    }

    // A missing file, a file system without user attributes (procfs), a link (followed).
    void otherPlaces()
    {
        const QUrl gone = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("gone.png")));
        QCOMPARE(readTags(gone), QList<FinderTag>());
        QVERIFY(!readTagData(gone));
        QVERIFY(!toggleTag(FinderTag::red, gone));
        QVERIFY(!writeTagEntries({}, gone));
        QVERIFY(!QFile::exists(gone.toLocalFile()));
        QVERIFY(!writeTagEntries({ red }, QUrl(QStringLiteral("http://127.0.0.1/image.png"))));

        const QUrl proc = QUrl::fromLocalFile(QStringLiteral("/proc/self/comm"));
        QVERIFY(!toggleTag(FinderTag::red, proc));
        QCOMPARE(readTags(proc), QList<FinderTag>());
        QVERIFY(writeTagEntries({}, proc));

        const QString target = newFile();
        const QString link = m_dir->filePath(QStringLiteral("link.png"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(toggleTag(FinderTag::purple, QUrl::fromLocalFile(link)));
        QCOMPARE(readTags(QUrl::fromLocalFile(target)), QList<FinderTag> { FinderTag::purple });
    }
};

QTEST_GUILESS_MAIN(FileTagsTest)
#include "tst_FileTags.moc"
