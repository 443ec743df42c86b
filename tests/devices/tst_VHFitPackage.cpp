#include "VHFitPackage.h"

#include <QTest>

namespace {

// "kind name version" of every image, for comparing lists in one line.
QStringList describe(const QList<VHFitPackage::Image> &images)
{
    QStringList lines;
    for (const VHFitPackage::Image &image : images)
        lines << image.kind + QLatin1Char(' ') + image.name + QLatin1Char(' ') + image.version;
    return lines;
}

} // namespace

class TestVHFitPackage : public QObject
{
    Q_OBJECT

private slots:
    void readsTheImagesOrRefusesThePackage_data()
    {
        QTest::addColumn<QByteArray>("releaseIni");
        QTest::addColumn<QStringList>("images");
        QTest::addColumn<QString>("refusal"); // a part of the reason; empty when accepted

        QTest::newRow("file order, MODEL skipped")
            << QByteArray("[TimeZone]\nName=tz.bin\nVersion=TZ2025\n[MODEL]\nName=x\n[OS]\nName=os.bin\nVersion=10\n"
                          "[Bluetooth]\nName=bt.bin\nVersion=BT78\n")
            << QStringList{"TimeZone tz.bin TZ2025", "OS os.bin 10", "Bluetooth bt.bin BT78"} << QString();
        QTest::newRow("BOM and CRLF") << QByteArray("\xEF\xBB\xBF[OS]\r\nName=os.bin\r\nVersion=10\r\n")
                                      << QStringList{"OS os.bin 10"} << QString();
        // The same group twice is one image where it first stands, the later keys winning.
        QTest::newRow("duplicate group") << QByteArray(
            "[OS]\nName=a.bin\nVersion=1\n[BootLoader]\nName=b.bin\nVersion=2\n[OS]\nName=c.bin\nVersion=3\n")
                                         << QStringList{"OS c.bin 3", "BootLoader b.bin 2"} << QString();
        QTest::newRow("no version") << QByteArray("[OS]\nName=os.bin\n") << QStringList{"OS os.bin "} << QString();
        QTest::newRow("only MODEL") << QByteArray("[MODEL]\nName=Pacer60F\n") << QStringList() << QString();
        QTest::newRow("empty") << QByteArray() << QStringList() << QString();
        const QString unsafe = QStringLiteral("image name can not name a file");
        QTest::newRow("missing name") << QByteArray("[OS]\nName=os.bin\nVersion=1\n[GPS]\nVersion=10\n")
                                      << QStringList() << unsafe;
        QTest::newRow("empty name") << QByteArray("[OS]\nName=\nVersion=10\n") << QStringList() << unsafe;
        for (const char *name : {"../outside.bin", "a/b.bin", "a\\b.bin", "..", "."}) {
            QTest::newRow(name) << ("[OS]\nName=" + QByteArray(name) + "\nVersion=10\n") << QStringList() << unsafe;
        }
        QByteArray atLimit("[OS]\nName=os.bin\nVersion=1\n");
        atLimit.append(QByteArray(VHFitPackage::kMaxReleaseIniSize - atLimit.size(), '\n'));
        QTest::newRow("at the size limit") << atLimit << QStringList{"OS os.bin 1"} << QString();
        QTest::newRow("oversize") << atLimit + '\n' << QStringList() << QStringLiteral("too large");
    }
    void readsTheImagesOrRefusesThePackage()
    {
        QFETCH(QByteArray, releaseIni);
        QFETCH(QStringList, images);
        QFETCH(QString, refusal);
        const VHFitPackage package(releaseIni);
        QCOMPARE(package.isValid(), refusal.isEmpty());
        QVERIFY2(package.refusal().contains(refusal), qPrintable(package.refusal()));
        QCOMPARE(describe(package.images()), images);
        if (!package.isValid())
            QVERIFY(package.plan({}).isEmpty());
    }

    void plansTheNewerImages_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("package");
        QTest::addColumn<bool>("newer");
        QTest::newRow("9 to 10") << "9"
                                 << "10" << true; // natural order, not "1" before "9"
        QTest::newRow("10 to 9") << "10"
                                 << "9" << false;
        QTest::newRow("equal") << "B123"
                               << "B123" << false;
        QTest::newRow("older date") << "DL20230101"
                                    << "DL20221231" << false;
        QTest::newRow("newer date") << "DL20230101"
                                    << "DL20230102" << true;
        QTest::newRow("kind the device does not report") << ""
                                                         << "1" << true;
        QTest::newRow("neither has a version") << ""
                                               << "" << false;
    }
    void plansTheNewerImages()
    {
        QFETCH(QString, device);
        QFETCH(QString, package);
        QFETCH(bool, newer);
        const VHFitPackage release("[OS]\nName=os.bin\nVersion=" + package.toUtf8() + "\n");
        QMap<QString, QString> versions{{QStringLiteral("BootLoader"), QStringLiteral("B1")}};
        if (!device.isEmpty())
            versions.insert(QStringLiteral("OS"), device);
        QCOMPARE(release.plan(versions).size(), newer ? 1 : 0);
    }

    void thePlanKeepsTheFileOrder()
    {
        const VHFitPackage package("[TimeZone]\nName=tz.bin\nVersion=TZ2025\n[MODEL]\nName=x\n[OS]\nName=os.bin\n"
                                   "Version=10\n[BootLoader]\nName=boot.bin\nVersion=B123\n"
                                   "[Bluetooth]\nName=bt.bin\nVersion=BT78\n");
        const QMap<QString, QString> device{
            {"OS", "9"}, {"BootLoader", "B123"}, {"TimeZone", "TZ2024"}, {"Bluetooth", "BT77"}};
        QCOMPARE(describe(package.plan(device)),
                 (QStringList{"TimeZone tz.bin TZ2025", "OS os.bin 10", "Bluetooth bt.bin BT78"}));
    }
};

QTEST_GUILESS_MAIN(TestVHFitPackage)
#include "tst_VHFitPackage.moc"
