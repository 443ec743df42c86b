// The 1 MiB family's package rules as values, without a device.

#include "VHPacer30Package.h"
#include "VHTestFiles.h"
#include "VHZipUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestVHPacer30Package : public QObject
{
    Q_OBJECT

private slots:
    void loaderFiles_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("temporary");
        QTest::addColumn<QString>("loader"); // empty: refused
        QTest::newRow("both") << QStringList{"IAP_v9.bin", "ITemp.bin"} << "ITemp.bin"
                              << "IAP_v9.bin";
        QTest::newRow("first of each in name order")
            << QStringList{"I1.bin", "I2.bin", "IT1.bin", "IT2.bin"} << "IT1.bin"
            << "I1.bin";
        QTest::newRow("no temporary loader") << QStringList{"IAP.bin", "readme.txt"} << ""
                                             << "";
        QTest::newRow("no loader") << QStringList{"ITemp.bin", "iap.bin"} << ""
                                   << "";
        QTest::newRow("names are case-sensitive") << QStringList{"itemp.bin", "iap.bin"} << ""
                                                  << "";
        QTest::newRow("empty") << QStringList{} << ""
                               << "";
    }

    void loaderFiles()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, temporary);
        QFETCH(QString, loader);
        VHPacer30Package::Loader found;
        const VHResult result = VHPacer30Package::loaderFrom(files, found);
        QCOMPARE(result.ok, !loader.isEmpty());
        if (result) {
            QCOMPARE(found.temporary, temporary);
            QCOMPARE(found.loader, loader);
        }
    }

    void imageAndVersionRules()
    {
        QString image;
        const QString pulsar = QStringLiteral("Pulsar30");
        QVERIFY(VHPacer30Package::imageFrom({"MAPLE_a.bin", "PULSAR30_b.bin", "c.txt", "z.bin"}, pulsar, image));
        QCOMPARE(image, QStringLiteral("PULSAR30_b.bin"));
        QVERIFY(VHPacer30Package::imageFrom({"maple.BIN"}, pulsar, image));
        QVERIFY(!VHPacer30Package::imageFrom({"a.txt", "bin", "MAPLES.bin", "WILLOW.bin"}, pulsar, image));
        QVERIFY(image.isEmpty());
        QVERIFY(!VHPacer30Package::imageFrom({"PULSAR30.bin"}, QStringLiteral("Pacer35"), image));

        QCOMPARE(VHPacer30Package::imageVersion(QStringLiteral("V008")), 8);
        QCOMPARE(VHPacer30Package::imageVersion(QStringLiteral("V0x8")), 0);
        QCOMPARE(VHPacer30Package::imageVersion(QStringLiteral("V")), 0);
        QCOMPARE(VHPacer30Package::imageVersion(QString()), 0);

        QVERIFY(!VHPacer30Package::erasesBeforeImage(QStringLiteral("Pulsar30"), 3));
        QVERIFY(VHPacer30Package::erasesBeforeImage(QStringLiteral("Pulsar30"), 2));
        QVERIFY(VHPacer30Package::erasesBeforeImage(QStringLiteral("Pulsar35"), 99));
        QVERIFY(VHPacer30Package::erasesBeforeImage(QStringLiteral("Pacer20"), 7));
        QVERIFY(!VHPacer30Package::erasesBeforeImage(QStringLiteral("Pacer20"), 8));

        QCOMPARE(VHPacer30Package::fitted("abc", 5), QByteArray("abc\0\0", 5));
        QCOMPARE(VHPacer30Package::fitted("abcdef", 4), QByteArray("abcd"));
    }

    void unpackListsTopLevelFilesOnly()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("src"));
        QVERIFY(QDir().mkpath(source + QStringLiteral("/sub")));
        QVERIFY(writeFile(source + QStringLiteral("/ITemp.bin"), "t"));
        QVERIFY(writeFile(source + QStringLiteral("/IAP.bin"), "l"));
        QVERIFY(writeFile(source + QStringLiteral("/sub/I2.bin"), "x"));
        VHZipUtil zip;
        const QString package = dir.filePath(QStringLiteral("iap.zip"));
        QVERIFY(zip.compress(package, source, {"ITemp.bin", "IAP.bin", "sub/I2.bin"}));
        const QString folder = dir.filePath(QStringLiteral("out"));
        QVERIFY(writeFile(folder + QStringLiteral("/stale.bin"), "old"));
        QStringList files;
        QVERIFY(VHPacer30Package::unpack(package, folder, files));
        QCOMPARE(files, QStringList({"IAP.bin", "ITemp.bin"}));
        // A package cut short is no package.
        QByteArray bytes = readFile(package);
        QVERIFY(writeFile(package, bytes.left(bytes.size() / 2)));
        QVERIFY(!VHPacer30Package::unpack(package, folder, files));
        QVERIFY(!VHPacer30Package::unpack(dir.filePath(QStringLiteral("missing.zip")), folder, files));
    }
};

QTEST_GUILESS_MAIN(TestVHPacer30Package)
#include "tst_VHPacer30Package.moc"
