// The 1 MiB family's package rules as values, without a device.

#include "VHPacer30Package.h"
#include "VHScsiFlashClient.h"

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

    // Whole packages parsed from their files: only top-level entries count, both loaders must hold bytes,
    // the image must be the model's.
    void parsedPackages_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("model"); // empty: a loader package
        QTest::addColumn<QString>("taken"); // empty: refused
        QTest::newRow("loaders") << QStringList{"IAP.bin", "ITemp.bin"} << ""
                                 << "IAP.bin";
        QTest::newRow("loader below the top only") << QStringList{"ITemp.bin", "sub/IAP.bin"} << ""
                                                   << "";
        QTest::newRow("empty loader") << QStringList{"IAP.bin", "ITemp.bin", "empty:IAP.bin"} << ""
                                      << "";
        QTest::newRow("Pulsar30 image") << QStringList{"MAPLE_v5.bin", "notes.txt"} << "Pulsar30"
                                        << "MAPLE_v5.bin";
        QTest::newRow("another model's image") << QStringList{"WILLOW.bin"} << "Pulsar30"
                                               << "";
        QTest::newRow("image without its tag") << QStringList{"untagged:MAPLE.bin"} << "Pulsar30"
                                               << "";
        QTest::newRow("image below the top only") << QStringList{"sub/MAPLE.bin"} << "Pulsar30"
                                                  << "";
    }

    void parsedPackages()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, model);
        QFETCH(QString, taken);
        VHArchiveFiles::Files files;
        for (const QString &name : names) {
            const QString kind = name.section(QLatin1Char(':'), 0, -2);
            const QString file = name.section(QLatin1Char(':'), -1);
            QByteArray bytes = kind == QLatin1String("empty") ? QByteArray() : QByteArray(600, 'x');
            if (kind.isEmpty() && !model.isEmpty())
                bytes.replace(0, 5, VHPacer30Package::imageTag(model));
            files.insert(file, bytes);
        }
        VHResult result;
        QString found;
        if (model.isEmpty()) {
            VHPacer30Package::LoaderFiles loader;
            result = VHPacer30Package::parseLoader(files, loader);
            found = loader.names.loader;
        } else {
            VHPacer30Package::Image image;
            result = VHPacer30Package::parseImage(files, model, image);
            found = image.name;
            QVERIFY(!result || image.bytes.startsWith(VHPacer30Package::imageTag(model)));
        }
        QCOMPARE(result.ok, !taken.isEmpty());
        QCOMPARE(result ? found : QString(), taken);
        QCOMPARE(result.code, result ? 0 : int(VHScsiFlashClient::BadPackage));
        QVERIFY(result || !result.reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVHPacer30Package)
#include "tst_VHPacer30Package.moc"
