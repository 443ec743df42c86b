#include "VHIniDocument.h"
#include "VHLanguageMap.h"
#include "VHUtility.h"
#include "VHVersion.h"

#include <QRegularExpression>
#include <QTest>

class TestVHMisc : public QObject
{
    Q_OBJECT

private slots:
    void versionsCompareInNaturalOrder_data()
    {
        QTest::addColumn<QString>("older");
        QTest::addColumn<QString>("newer");
        QTest::newRow("minor with two digits") << "1.9.0"
                                               << "1.10.0";
        QTest::newRow("one against two digits") << "9"
                                                << "10";
        QTest::newRow("equal width is plain") << "V2.3.11"
                                              << "V2.3.12";
        QTest::newRow("letters") << "1.2a"
                                 << "1.2b";
        QTest::newRow("prefix is older") << "1.2"
                                         << "1.2.1";
        QTest::newRow("date stamps") << "20230131"
                                     << "20230201";
        QTest::newRow("leading zeros stay strict") << "01"
                                                   << "1";
        QTest::newRow("huge numbers") << "1.99999999999999999999"
                                      << "1.100000000000000000000";
    }

    void versionsCompareInNaturalOrder()
    {
        QFETCH(QString, older);
        QFETCH(QString, newer);
        if (older == QLatin1String("01")) {
            // Equal values of different width still order, like the plain comparison would.
            QVERIFY(VHVersion::compare(older, newer) != 0);
            QCOMPARE(VHVersion::compare(older, newer), -VHVersion::compare(newer, older));
            return;
        }
        QVERIFY(VHVersion::isOlder(older, newer));
        QVERIFY(!VHVersion::isOlder(newer, older));
        QCOMPARE(VHVersion::compare(newer, newer), 0);
        if (older.size() == newer.size())
            QCOMPARE(VHVersion::compare(older, newer) < 0, older < newer);
    }

    void languageMapKnowsBothCodeSets()
    {
        const VHLanguageMap map;
        QCOMPARE(map.name(QStringLiteral("eng")), QStringLiteral("English"));
        QCOMPARE(map.name(QStringLiteral("ENG")), QStringLiteral("English"));
        QCOMPARE(map.name(QStringLiteral("fre")), map.name(QStringLiteral("fra")));
        QCOMPARE(map.name(QStringLiteral("ger")), QStringLiteral("German"));
        QCOMPARE(map.name(QStringLiteral("deu")), QStringLiteral("German"));
        QCOMPARE(map.name(QStringLiteral("chi")), QStringLiteral("Chinese Simplified"));
        QCOMPARE(map.name(QStringLiteral("Zho")), QStringLiteral("Chinese Traditional"));
        QVERIFY(map.name(QStringLiteral("xyz")).isEmpty());
        QVERIFY(map.name(QString()).isEmpty());
        const QStringList codes = map.codes();
        QVERIFY(codes.size() > 480);
        static const QRegularExpression threeLetters(QStringLiteral("^[a-z]{3}$"));
        for (const QString &code : codes) {
            QVERIFY2(threeLetters.match(code).hasMatch(), qPrintable(code));
            QVERIFY(!map.name(code).isEmpty());
        }
    }

    void registryDeviceIsTheLastMatchingRow()
    {
        const VHModelTable models = {{"A001", "Pacer50", "VELORA P50", nullptr},
                                     {"A002", "Pacer60", "P60", nullptr},
                                     {"A003", "Empty", "", nullptr},
                                     {"A004", "Pacer60X", "VELORA P60", nullptr}};
        const VHModelInfo *row = VHUtility::getRegistryDevice("INQ:VELORA P60 1.0", models);
        QVERIFY(row);
        QCOMPARE(row->modelName, QStringLiteral("Pacer60X"));
        QCOMPARE(VHUtility::getRegistryDevice("nothing here", models), nullptr);
        QCOMPARE(VHUtility::getRegistryDevice("VELORA P50", models)->code, QStringLiteral("A001"));
    }

    void modelsByVendorListEachMatchingRowOnce_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("pieces ignore case") << "velora" << QStringList{"Pacer50"};
        QTest::newRow("two matching pieces give one row") << "Velora Pacer Pulsar" << QStringList{"Pacer50", "Pulsar"};
        QTest::newRow("empty pieces match nothing") << "nobody" << QStringList{};
        QTest::newRow("empty vendor") << "" << QStringList{};
        QTest::newRow("a piece after empty ones") << "ACME Corp" << QStringList{"Other"};
    }

    void modelsByVendorListEachMatchingRowOnce()
    {
        QFETCH(QString, vendor);
        QFETCH(QStringList, expected);
        const VHModelTable models = {{"A001", "Pacer50", "VELORA:PACER", nullptr},
                                     {"A002", "Other", "::ACME:", nullptr},
                                     {"A003", "Pulsar", "pulsar:NONE:", nullptr},
                                     {"A004", "Blank", "", nullptr}};
        QStringList names;
        for (const VHModelInfo &row : VHUtility::findModelsByVendor(models, vendor))
            names << row.modelName;
        QCOMPARE(names, expected);
    }

    // The simulator's and the tests' own files, as QSettings writes them.
    void settingsTextReadsWhatQSettingsWrites_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("general group is top level") << QByteArray("[General]\nplugId=7\n") << "plugId"
                                                    << "7";
        QTest::newRow("grouped key") << QByteArray("a=1\n[OS]\r\nVersion = 2.10\r\n") << "OS/Version"
                                     << "2.10";
        QTest::newRow("quoted with escapes")
            << QByteArray("[State]\nmsg=\"say \\\"no\\\", then; stop \"\n") << "State/msg"
            << "say \"no\", then; stop ";
        QTest::newRow("later key wins") << QByteArray("[S]\nk=1\nk=2\n") << "S/k"
                                        << "2";
        QTest::newRow("comments and empty names skipped") << QByteArray("; k=1\n=2\n#k=3\n") << "k" << QString();
    }

    void settingsTextReadsWhatQSettingsWrites()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(vhSettingsTextValues(text).value(key), expected);
    }
};

QTEST_GUILESS_MAIN(TestVHMisc)
#include "tst_VHMisc.moc"
