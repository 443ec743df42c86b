#include "VHPacer50Package.h"

#include <QTest>

class TestVHPacer50Package : public QObject
{
    Q_OBJECT

private slots:
    void minVersion_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<QString>("lowest");
        QTest::newRow("different numbers of parts") << QStringList{"1.0.0", "1.0"} << QString();
        QTest::newRow("numbers, not text") << QStringList{"1.10.0", "1.9.0"} << QStringLiteral("1.9.0");
        QTest::newRow("equal skipped") << QStringList{"2.0", "2.0", "1.5"} << QStringLiteral("1.5");
        QTest::newRow("first kept") << QStringList{"0.0.0.0", "1.2.3.4"} << QStringLiteral("0.0.0.0");
        QTest::newRow("one") << QStringList{"3"} << QStringLiteral("3");
        QTest::newRow("none") << QStringList{} << QString();
    }
    void minVersion()
    {
        QFETCH(QStringList, versions);
        QFETCH(QString, lowest);
        QCOMPARE(VHPacer50Package::minVersion(versions), lowest);
    }

    void isVersionOlder_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("older");
        QTest::newRow("GH1.3.0.7") << "GH1.3.0.7"
                                   << "GH1.3.0.8" << true;
        QTest::newRow("GH1.3.0.8") << "GH1.3.0.8"
                                   << "GH1.3.0.8" << false;
        QTest::newRow("GH1.3 over the shorter length") << "GH1.3"
                                                       << "GH1.3.0.8" << false;
        QTest::newRow("numbers") << "GH1.3.0.10"
                                 << "GH1.3.0.8" << false;
        QTest::newRow("first part decides") << "GH0.9.9.9"
                                            << "GH1.0.0.0" << true;
        // The rule alone reads an empty text as 0; the device never hands it an unknown version.
        QTest::newRow("empty is 0") << ""
                                    << "GH1.3.0.8" << true;
    }
    void isVersionOlder()
    {
        QFETCH(QString, device);
        QFETCH(QString, reference);
        QFETCH(bool, older);
        QCOMPARE(VHPacer50Package::isVersionOlder(device, reference), older);
    }

    void updateIniIsSixCrLfLines()
    {
        QCOMPARE(VHPacer50Package::updateIni(1700000000, "ALDER.bin"),
                 QByteArray("[Update.ini]\r\nVersion=02\r\n[Total]\r\nUpdate=true\r\n"
                            "Name=/My Disk/Vel0ra!#@1700000000/ALDER.bin\r\n"
                            "CRC=/My Disk/Vel0ra!#@1700000000/CKS.TXT\r\n"));
        QCOMPARE(VHPacer50Package::imageFileName(QString()), QStringLiteral("ALDER.bin"));
        QCOMPARE(VHPacer50Package::imageFileName("OAK"), QStringLiteral("OAK.bin"));
    }

    void totalRefusals_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("refusal");
        const QStringList good{"ALDER.bin", "cks.txt", "res/a.dat"};
        QTest::newRow("good, any spelling") << good << "alder.BIN" << QString();
        QTest::newRow("no checksums") << QStringList{"ALDER.bin"} << "ALDER.bin"
                                      << "the package has no CKS.TXT";
        QTest::newRow("no image") << QStringList{"CKS.TXT"} << "ALDER.bin"
                                  << "the package has no image \"ALDER.bin\"";
        QTest::newRow("image in a folder") << QStringList{"CKS.TXT", "x/ALDER.bin"} << "ALDER.bin"
                                           << "the package has no image \"ALDER.bin\"";
        QTest::newRow("image name leaves") << good << "../ALDER.bin"
                                           << "the image name can not name a file: \"../ALDER.bin\"";
        QTest::newRow("entry leaves") << (good + QStringList{"a/../../x"}) << "ALDER.bin"
                                      << "the package names a file outside its folder: \"a/../../x\"";
    }
    void totalRefusals()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, image);
        QFETCH(QString, refusal);
        QCOMPARE(VHPacer50Package(files).refusalFor(image), refusal);
    }

    void texts()
    {
        QString a, b;
        QVERIFY(VHPacer50Package::splitPair("/maps^Pacer60", a, b));
        QCOMPARE(a + '|' + b, QStringLiteral("/maps|Pacer60"));
        QVERIFY(!VHPacer50Package::splitPair("/maps", a, b));
        QVERIFY(!VHPacer50Package::splitPair("1^2^3", a, b));
        QCOMPARE(VHPacer50Package::mapKey("Germany^2024.map"), QStringLiteral("Germany"));
        QCOMPARE(VHPacer50Package::mapKey("Spain.map"), QStringLiteral("Spain.map"));
        QVERIFY(VHPacer50Package::hasApplicationTree({"release.ini", "nimbra/a"}));
        QVERIFY(!VHPacer50Package::hasApplicationTree({"release.ini", "nimbra"}));
        QVERIFY(VHPacer50Package({"Release.INI"}).hasReleaseIni());
    }
};

QTEST_GUILESS_MAIN(TestVHPacer50Package)
#include "tst_VHPacer50Package.moc"
