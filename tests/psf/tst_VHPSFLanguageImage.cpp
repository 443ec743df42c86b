#include "VHByteReader.h"
#include "VHLanguageMap.h"
#include "VHPSFLanguageImage.h"

#include <QTest>

using namespace VHPSFLanguageImage;

namespace {

// A language file: a version word, its code at bytes 4-6, then font data.
QByteArray font(const char *code, qsizetype size, char fill = 'f')
{
    QByteArray bytes = QByteArray("\x01\x02\x03\x04", 4) + QByteArray(code) + QByteArray(size - 7, fill);
    return bytes.left(size);
}

QByteArray magic()
{
    QByteArray bytes(4, char(0));
    VHByteWriter(bytes).u32(kMagic);
    return bytes;
}

} // namespace

class tst_VHPSFLanguageImage : public QObject
{
    Q_OBJECT

private slots:
    void buildsDirectory()
    {
        QByteArray area;
        QVERIFY(build(QByteArray(17, 'b'), {font("eng", 40), QByteArray("abcdef"), font("deu", 10)}, area));
        QCOMPARE(area.size(), kAreaSize);
        QCOMPARE(area.mid(17, 15), QByteArray(15, char(0))); // base padded to 16
        const QByteArray expected = magic() + QByteArray("\x01\x02\x03\x04\x02", 5) + "engdeu";
        QCOMPARE(area.mid(32, expected.size()), expected);
        VHByteReader entries(area, 32 + 69);
        QCOMPARE(entries.u32(), 229u);
        QCOMPARE(entries.u32(), 269u);
        entries.skip(4 * 18);
        QCOMPARE(entries.u32(), 40u);
        QCOMPARE(entries.u32(), 10u);
        QCOMPARE(area.mid(32 + 229, 50), font("eng", 40) + font("deu", 10));

        QList<QByteArray> many;
        for (int i = 0; i < 25; ++i)
            many.append(font("fra", 8));
        QVERIFY(build(QByteArray(), many, area));
        QCOMPARE(quint8(area[8]), quint8(20));
        QCOMPARE(findDirectory(area), 0);
    }

    void buildRefusesOversize()
    {
        QByteArray area("kept");
        // 256 bytes after the base: the directory and 27 bytes of files fit.
        QVERIFY(!build(QByteArray(kAreaSize - 256, 'b'), {font("eng", 28)}, area));
        QCOMPARE(area, QByteArray("kept"));
        QVERIFY(build(QByteArray(kAreaSize - 256, 'b'), {font("eng", 27)}, area));
        QCOMPARE(area.right(27), font("eng", 27));
    }

    void findsDirectory_data()
    {
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<qsizetype>("position"); // -1: no directory
        QTest::addColumn<QStringList>("codes");
        QByteArray one;
        QVERIFY(build(QByteArray(100, 'b'), {font("eng", 64), font("deu", 64)}, one));
        QTest::newRow("one directory") << one << qsizetype(112) << QStringList{"eng", "deu"};

        // The font data holds the magic at a 4-byte position, followed by bytes
        // that would read as a directory of its own.
        QByteArray inFont = font("eng", 400, 'x');
        inFont.replace(12 + 3, 4, magic()); // 112 + 229 + 15 = 356, a multiple of 4
        QByteArray fontMagic;
        QVERIFY(build(QByteArray(100, 'b'), {inFont, font("deu", 64)}, fontMagic));
        fontMagic.replace(356 + 8, 1, QByteArray(1, char(0)));
        QTest::newRow("magic inside font data") << fontMagic << qsizetype(112) << QStringList{"eng", "deu"};

        QByteArray two = one;
        QByteArray second;
        QVERIFY(build(QByteArray(), {font("fra", 20)}, second));
        two.replace(0x10000, 229 + 20, second.left(229 + 20));
        QTest::newRow("last directory wins") << two << qsizetype(0x10000) << QStringList{"fra"};

        // Another writer's layouts: entries apart, or in another order than the codes.
        const auto entries = [&one](quint32 first, quint32 second) {
            QByteArray area = one;
            VHByteWriter(area, 112 + 69).u32(first).u32(second);
            return area;
        };
        QTest::newRow("entries with a gap") << entries(229, 400) << qsizetype(112) << QStringList{"eng", "deu"};
        QTest::newRow("entries in reverse order") << entries(293, 229) << qsizetype(112) << QStringList{"eng", "deu"};
        QTest::newRow("entries overlapping") << entries(230, 293) << qsizetype(-1) << QStringList{};
        QTest::newRow("entry inside the directory") << entries(228, 293) << qsizetype(-1) << QStringList{};
        QTest::newRow("entry past the area")
            << entries(229, quint32(kAreaSize - 112 - 63)) << qsizetype(-1) << QStringList{};
        QTest::newRow("entry at the area's end")
            << entries(229, quint32(kAreaSize - 112 - 64)) << qsizetype(112) << QStringList{"eng", "deu"};

        QByteArray empty;
        QVERIFY(build(QByteArray(), {}, empty));
        QByteArray nearEnd(kAreaSize, char(0));
        nearEnd.replace(kAreaSize - 232, 229, empty.left(229));
        QTest::newRow("within 232 bytes of the end") << nearEnd << qsizetype(-2) << QStringList{};
    }

    void findsDirectory()
    {
        QFETCH(QByteArray, area);
        QFETCH(qsizetype, position);
        QFETCH(QStringList, codes);
        const VHLanguageMap map;
        const qsizetype found = findDirectory(area);
        QCOMPARE(isDirectoryAt(area, found), position != -1);
        QStringList read;
        if (position >= 0) {
            QCOMPARE(found, position);
            QVERIFY(languageCodes(area, found, map, read));
        }
        QCOMPARE(read, codes);
        // -2: found, but too near the end to be read.
        if (position == -2)
            QVERIFY(!languageCodes(area, found, map, read));
    }

    void directoryReachOfTheFamilies_data()
    {
        QTest::addColumn<qsizetype>("fromEnd");
        QTest::addColumn<qsizetype>("reach");
        QTest::addColumn<bool>("ok");
        QTest::newRow("232 from the end, reach 232") << qsizetype(232) << kDirectoryReach << false;
        QTest::newRow("236 from the end, reach 232") << qsizetype(236) << kDirectoryReach << true;
        QTest::newRow("232 from the end, reach 229") << qsizetype(232) << kDirectorySize << true;
        QTest::newRow("229 from the end, reach 229") << qsizetype(229) << kDirectorySize << false;
    }

    void directoryReachOfTheFamilies()
    {
        QFETCH(qsizetype, fromEnd);
        QFETCH(qsizetype, reach);
        QFETCH(bool, ok);
        QByteArray empty;
        QVERIFY(build(QByteArray(), {}, empty));
        QByteArray area(0x79000, char(0));
        area.replace(area.size() - fromEnd, 229, empty.left(229));
        QVERIFY(isDirectoryAt(area, area.size() - fromEnd));
        QStringList read;
        QCOMPARE(languageCodes(area, area.size() - fromEnd, VHLanguageMap(), read, reach), ok);
    }
};

QTEST_GUILESS_MAIN(tst_VHPSFLanguageImage)
#include "tst_VHPSFLanguageImage.moc"
