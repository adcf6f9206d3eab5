#include "Icons.h"
#include "TestFiles.h"
#include "TestSandbox.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace limnoscope;

namespace {

constexpr int iconSide = 32;
const QColor textColour(20, 40, 200);
const QColor disabledTextColour(180, 180, 180);

// The symbol names the window's code asks for: every dotted lower-case literal ("folder.fill") outside comments.
QSet<QByteArray> symbolNamesInSources()
{
    static const QRegularExpression literal(QStringLiteral("\"([a-z0-9]+(?:\\.[a-z0-9]+)+)\""));
    QSet<QByteArray> names;
    QDirIterator files(test::sourceTreeRoot() + QStringLiteral("/src/ui"), { QStringLiteral("*.cpp") }, QDir::Files);
    while (files.hasNext()) {
        QFile file(files.next());
        (void)file.open(QIODevice::ReadOnly);
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QString text = QString::fromUtf8(line).trimmed();
            // Comments and the logging category's name hold no symbols.
            if (!text.startsWith(QLatin1String("//")) && !text.startsWith(QLatin1String("Q_LOGGING_CATEGORY")))
                for (const QRegularExpressionMatch& match : literal.globalMatch(text))
                    names.insert(match.captured(1).toLatin1());
        }
    }
    return names;
}

// How much of `image` is covered (summed opacity, in whole pixels), and its most opaque pixel's colour.
std::pair<int, QColor> inkOf(const QImage& image)
{
    int alphaSum = 0;
    QColor strongest(0, 0, 0, 0);
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int pixel = 0; pixel < argb.width() * argb.height(); ++pixel) {
        const QColor colour = argb.pixelColor(pixel % argb.width(), pixel / argb.width());
        alphaSum += colour.alpha();
        strongest = colour.alpha() > strongest.alpha() ? colour : strongest;
    }
    return { alphaSum / 255, strongest };
}

QImage drawn(const QIcon& icon, int side, QIcon::Mode mode = QIcon::Normal, QIcon::State state = QIcon::Off)
{
    return icon.pixmap(QSize(side, side), 1.0, mode, state).toImage();
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private:
    test::TestSandbox m_emptyThemes;

private slots:
    void initTestCase()
    {
        // A desktop without any icon theme: only what Limnoscope ships can draw.
        QIcon::setThemeSearchPaths({ m_emptyThemes.path() });
        QIcon::setFallbackSearchPaths({});
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::WindowText, textColour); // every group
        palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledTextColour);
        QApplication::setPalette(palette);
    }

    void everySymbolDrawsWithoutTheme_data()
    {
        QTest::addColumn<QByteArray>("symbol");
        const QList<QByteArray> known = symbolNames();
        QVERIFY(known.size() >= 24 && symbolIcon("no.such.symbol").isNull());
        QSet<QByteArray> names = symbolNamesInSources(); // one the code uses but none draws fails its row
        QVERIFY2(names.size() > 5, "no symbol names found in the window's sources");
        QList<QByteArray> rows = names.unite(QSet<QByteArray>(known.cbegin(), known.cend())).values();
        std::sort(rows.begin(), rows.end());
        for (const QByteArray& name : std::as_const(rows))
            QTest::newRow(name.constData()) << name;
    }

    void everySymbolDrawsWithoutTheme()
    {
        QFETCH(QByteArray, symbol);
        const QIcon icon = symbolIcon(symbol.constData());
        QVERIFY(!icon.isNull());

        const QImage normal = drawn(icon, iconSide);
        QCOMPARE(normal.size(), QSize(iconSide, iconSide));
        const auto [ink, colour] = inkOf(normal); // in the palette's text colour: it reads on light and dark
        QVERIFY2(ink > iconSide, "the icon is (nearly) blank");
        QVERIFY2(ink < iconSide * iconSide * 3 / 4, "the icon is a filled square, not a drawing");
        QCOMPARE(colour.rgb(), textColour.rgb());
        QCOMPARE(inkOf(drawn(icon, iconSide, QIcon::Disabled)).second.rgb(), disabledTextColour.rgb());

        // At a device pixel ratio of 2, as a pixmap or painted, the icon is drawn at twice the pixels.
        const QPixmap sharp = icon.pixmap(QSize(iconSide, iconSide), 2.0);
        QCOMPARE(sharp.size(), QSize(iconSide * 2, iconSide * 2));
        QVERIFY(inkOf(sharp.toImage()).first > ink * 2);
        QImage canvas(iconSide * 2, iconSide * 2, QImage::Format_ARGB32_Premultiplied);
        canvas.setDevicePixelRatio(2.0);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        icon.paint(&painter, QRect(0, 0, iconSide, iconSide));
        painter.end();
        canvas.setDevicePixelRatio(1.0);
        QCOMPARE(canvas.convertToFormat(QImage::Format_ARGB32),
            drawn(icon, iconSide * 2).convertToFormat(QImage::Format_ARGB32));
    }

    void checkedSidebarButtonShowsFilledSymbol()
    {
        const int plain = inkOf(drawn(symbolIcon("sidebar.right"), iconSide, QIcon::Normal, QIcon::Off)).first;
        const int filled = inkOf(drawn(symbolIcon("sidebar.right"), iconSide, QIcon::Normal, QIcon::On)).first;
        QVERIFY2(filled > plain + iconSide * 2, "the On state should fill the right pane");
    }

    void applicationIconIsShipped()
    {
        const QImage image = drawn(applicationIcon(), 128);
        QVERIFY(image.size() == QSize(128, 128) && inkOf(image).first > 128 * 128 / 2);
    }
};

QTEST_MAIN(TestIcons)
#include "tst_Icons.moc"
