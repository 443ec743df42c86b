#include "VHByteReader.h"
#include "VHProfileData.h"
#include "VHProfileEntries.h"
#include "VHProfileLayout.h"
#include "VHTestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace VHProfileLayout;

namespace {

VHProfileMap userMap()
{
    return {{"User Sex", "1"},
            {"User Birthday", "1990/01/01"},
            {"User Height.Metric", "175.5"},
            {"User Height.Imperial", "69.0945"},
            {"User Weight.Metric", "70.25"},
            {"User Weight.Imperial", "1.5e+07"},
            {"User MHR", "190"}};
}

VHProfileMap readBlock(int type, const QByteArray &block, bool *ok = nullptr)
{
    VHProfileData data(block, type);
    const bool done = data.read();
    if (ok)
        *ok = done;
    return data.values();
}

} // namespace

class tst_VHProfileData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { VHProfileData::setToday(QDate(2024, 6, 15)); }
    void cleanupTestCase() { VHProfileData::setToday(QDate()); }
    void binaryRoundTrip_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<qsizetype>("userOffset");
        QTest::addColumn<bool>("extras");
        QTest::newRow("obsolete") << 1 << kUserObsolete << false;
        QTest::newRow("obsolete Pulsar30") << 2 << kUserObsoletePulsar30 << false;
        QTest::newRow("1.0.0") << 3 << kUser_1_0_0 << true;
    }

    void binaryRoundTrip()
    {
        QFETCH(int, type);
        QFETCH(qsizetype, userOffset);
        QFETCH(bool, extras);
        VHProfileMap map = userMap();
        const VHProfileMap extra = {
            {"User Lang", "eng"}, {"User Unit", "1"}, {"User MLSS", "250"}, {"User First Use Page", "1"}};
        map.insert(extra);
        VHProfileData data(QByteArray(kBlockSize, char(0x5A)), type);
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            data.setValue(it.key(), it.value());
        QVERIFY(data.write());
        const QByteArray block = data.source();
        QCOMPARE(block.size(), kBlockSize);
        VHByteReader user(block, userOffset);
        QCOMPARE(user.u8(), 1);       // sex
        QCOMPARE(user.u8(), 34);      // age in 2024
        QCOMPARE(user.u16(), 0x5A5A); // carried
        user.skip(16);
        QCOMPARE(user.u16(), 190);
        QCOMPARE(quint8(block[kFirstUseFlag]), extras ? 1 : 0x5A);
        // Nothing outside the fields is touched.
        QCOMPARE(block.left(userOffset), QByteArray(userOffset, char(0x5A)));
        QCOMPARE(block.mid(kFirstUseFlag + 1), QByteArray(kBlockSize - kFirstUseFlag - 1, char(0x5A)));

        bool ok = false;
        const VHProfileMap back = readBlock(type, block, &ok);
        QVERIFY(ok);
        map.insert("User Birthday", "1990/01/01");
        if (!extras)
            map.removeIf([&](const auto &entry) { return extra.contains(entry.key()); });
        QCOMPARE(back, map);
    }

    void birthday_data()
    {
        QTest::addColumn<QString>("birthday");
        QTest::addColumn<int>("age");
        QTest::newRow("read back as 1 January") << "1994/01/01" << 30;
        QTest::newRow("birthday still to come") << "1994/12/31" << 29;
        QTest::newRow("birthday today") << "1994/06/15" << 30;
        QTest::newRow("in the future") << "2030/01/01" << 0;
        QTest::newRow("too far back") << "1700/01/01" << 255;
        QTest::newRow("not a date keeps the byte") << "30" << 77;
    }

    void birthday()
    {
        QFETCH(QString, birthday);
        QFETCH(int, age);
        QByteArray block(kBlockSize, char(0));
        block[kUserObsolete + 1] = char(77);
        VHProfileData data(block, VHProfileData::PsfObsolete);
        data.setValue("User Birthday", birthday);
        QVERIFY(data.write());
        QCOMPARE(quint8(data.source()[kUserObsolete + 1]), age);
        QCOMPARE(readBlock(1, data.source()).value("User Birthday"), QString::number(2024 - age) + "/01/01");
    }

    void readerChoice_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QByteArray>("marker");
        QTest::addColumn<int>("type");
        QTest::newRow("Pulsar30") << "Pulsar30" << QByteArray("\1\0\1", 3) << 2;
        QTest::newRow("Pacer30") << "Pacer30" << QByteArray("\1\0\1", 3) << 1;
        QTest::newRow("Pacer35") << "Pacer35" << QByteArray("\1\0\0", 3) << 1;
        QTest::newRow("1.0.0") << "Pulsar35" << QByteArray("\1\0\0", 3) << 3;
        QTest::newRow("1.0.2") << "Pacer20" << QByteArray("\1\0\2", 3) << 3;
        QTest::newRow("1.0.3 is obsolete") << "Pacer20" << QByteArray("\1\0\3", 3) << 1;
        QTest::newRow("erased") << "Pacer20" << QByteArray("\xFF\xFF\xFF", 3) << 1;
    }

    void readerChoice()
    {
        QFETCH(QString, model);
        QFETCH(QByteArray, marker);
        QFETCH(int, type);
        QByteArray block(kBlockSize, char(0));
        block.replace(kLayoutVersionOffset, 3, marker);
        QCOMPARE(VHProfileData::readerTypeFor(model, block), type);
    }

    void badBlock_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<bool>("readable");
        for (int type : {1, 2, 3}) {
            const QByteArray name = QByteArray::number(type);
            QTest::newRow(name + " erased") << type << QByteArray(kBlockSize, char(0xFF)) << true;
            QTest::newRow(name + " short") << type << QByteArray(kBlockSize - 1, char(0)) << false;
        }
        QTest::newRow("2.0.0") << 4 << QByteArray(kBlockSize, char(0)) << false;
        QTest::newRow("no reader") << 5 << QByteArray(kBlockSize, char(0)) << false;
    }

    void badBlock()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, block);
        QFETCH(bool, readable);
        VHProfileData data(block, type);
        QCOMPARE(data.hasReader(), type <= 4);
        QCOMPARE(data.read(), readable);
        if (!readable) {
            QVERIFY(data.values().isEmpty());
            data.setValue("User Sex", "1");
            QVERIFY(!data.write());
            QCOMPARE(data.source(), block);
            return;
        }
        // Erased floats are no heights; the rest reads as the bytes say.
        QCOMPARE(data.value("User Height.Metric"), QString());
        QCOMPARE(data.value("User Weight.Imperial"), QString());
        QCOMPARE(data.value("User MHR"), QString("65535"));
        QCOMPARE(data.value("User Birthday"), QString("1769/01/01"));
        if (type == 3)
            QCOMPARE(data.value("User Lang"), QString());
        // Writing back what was read leaves the block as it was.
        QVERIFY(data.write());
        QCOMPARE(data.source(), block);
    }

    void xmlRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("user_settings.xml");
        QVERIFY(writeFile(path, "old"));
        VHProfileMap map = {{"b key", "2"}, {"a key", "1 & <2>"}, {"User Sex", "0"}};
        VHProfileData data(path.toUtf8(), VHProfileData::Xml);
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            data.setValue(it.key(), it.value());
        QVERIFY(data.write());
        const QByteArray text = readFile(path);
        QVERIFY(text.startsWith("<?xml"));
        const qsizetype user = text.indexOf("<property name=\"User Sex\" value=\"0\"/>");
        const qsizetype a = text.indexOf("<property name=\"a key\" value=\"1 &amp; &lt;2&gt;\"/>");
        const qsizetype b = text.indexOf("<property name=\"b key\" value=\"2\"/>");
        QVERIFY2(user > 0 && user < a && a < b, text.constData());
        VHProfileData back(path.toUtf8(), VHProfileData::Xml);
        QVERIFY(back.read());
        QCOMPARE(back.values(), map);
        QVERIFY(QDir(dir.path()).entryList(QDir::Files) == QStringList("user_settings.xml"));
        // A text XML cannot hold is not written as something else.
        data.setValue("c key", "a\x01b");
        QVERIFY(!data.write());
        QCOMPARE(back.read() ? back.values() : VHProfileMap(), map);
    }

    void badXml_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file, "/": a folder
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("folder") << QByteArray("/");
        QTest::newRow("other root") << QByteArray("<config><property name=\"a\" value=\"1\"/></config>");
        QTest::newRow("malformed") << QByteArray("<settings><property name=\"a\" value=\"1\"/><property");
        QTest::newRow("not xml") << QByteArray("\xFF\xFE garbage");
        QByteArray huge = "<settings>" + QByteArray(VHProfileReaderXML::kMaxFileSize, ' ') + "</settings>";
        QTest::newRow("huge") << huge;
    }

    void badXml()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.xml");
        if (content == "/")
            QVERIFY(QDir(dir.path()).mkdir("settings.xml"));
        else if (!content.isEmpty())
            QVERIFY(writeFile(path, content));
        VHProfileData data(path.toUtf8(), VHProfileData::Xml);
        QVERIFY(!data.read());
        QVERIFY(data.values().isEmpty());
    }

    void entries()
    {
        VHProfileMap map = userMap();
        map.insert({{"Favourite Colour", "blue"},
                    {"Magic Number", "7"},
                    {"User FTP.zone7.high", "400"},
                    {"Day night saving", "-1"},
                    {"Sunrise", "360"},
                    {"Language ISO3", "deu"},
                    {"User Lang", "not a number"}});
        QByteArray block(kBlockSize, char(0xFF));
        QVERIFY(VHProfileEntries::write(block, map));
        // The seven user keys, the zone, saving, sunrise and the language: counted.
        const int count = 11;
        QCOMPARE(VHByteReader(block, kEntryCountOffset).u16(), count);
        QCOMPARE(VHByteReader(block, kEntryStateOffset).u16(), kEntriesWritten);
        VHByteReader magic(block, kEntryDataOffset + count * kEntrySize);
        QCOMPARE(magic.u16(), 0);
        QCOMPARE(magic.u8(), kMagicItem);
        QCOMPARE(magic.u8(), kMagicType);
        QCOMPARE(magic.u32(), kMagicValue);

        VHProfileMap back;
        QVERIFY(VHProfileEntries::read(block, back));
        for (const char *skipped : {"Favourite Colour", "Magic Number", "User Lang"})
            map.remove(skipped);
        QCOMPARE(back, map);

        VHByteWriter(block, kEntryCountOffset).u16(kEntryCapacity + 1);
        QVERIFY(!VHProfileEntries::read(block, back));
        QByteArray shortBlock = block.left(kBlockSize - 1);
        QVERIFY(!VHProfileEntries::write(shortBlock, map));
    }

    void entryLanguage_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("text");
        QTest::newRow("three letters") << QByteArray("eng\0", 4) << "eng";
        QTest::newRow("four") << QByteArray("zh01") << "zh01";
        QTest::newRow("control character") << QByteArray("en\x01\0", 4) << "";
        QTest::newRow("last character") << QByteArray("eng\x7F") << "";
        QTest::newRow("empty") << QByteArray(4, '\0') << "";
    }

    void entryLanguage()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, text);
        QByteArray block(kBlockSize, char(0));
        VHByteWriter(block, kEntryCountOffset).u16(1);
        VHByteWriter(block, kEntryDataOffset).u16(0).u8(89).u8(11).bytes(stored);
        VHProfileMap map;
        QVERIFY(VHProfileEntries::read(block, map));
        QCOMPARE(map.value("Language ISO3", "absent"), text);
    }
};

QTEST_GUILESS_MAIN(tst_VHProfileData)
#include "tst_VHProfileData.moc"
