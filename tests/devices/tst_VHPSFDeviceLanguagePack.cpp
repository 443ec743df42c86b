// The language pack as a value, no device: which entries it takes and what
// it refuses.

#include "VHLanguageMap.h"
#include "VHLanguageUpdate.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestVHPSFDeviceLanguagePack : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static VHArchiveFiles::Files filesWith(const QList<std::pair<QString, QByteArray>> &list)
    {
        VHArchiveFiles::Files files;
        for (const auto &[name, bytes] : list)
            files.insert(name, bytes);
        return files;
    }

private slots:
    void baseAndLanguageEntries()
    {
        const QByteArray font = VHPSFLanguagePackBuilder::font(QStringLiteral("deu"), 40);
        const VHArchiveFiles::Files files = filesWith({{QStringLiteral("a_linden.bin"), "L"},
                                                       {QStringLiteral("z_Aspens.BIN"), "A"},
                                                       {QStringLiteral("Font_DEU_00.bft"), "old"},
                                                       {QStringLiteral("Font_deu_01.bft"), font},
                                                       {QStringLiteral("sub/Font_fra_01.bft"), font}});
        VHPSFLanguagePack pack;
        QVERIFY(VHPSFLanguagePack::parse(files, pack));
        // "aspens.bin" is looked for first, whatever the name order.
        QCOMPARE(pack.baseName(), QStringLiteral("z_Aspens.BIN"));
        // Only entries at the top count.
        QVERIFY(pack.languageFile(QStringLiteral("fra")).isEmpty());
        // The last match in name order.
        QCOMPARE(pack.languageFile(QStringLiteral("deu")), QStringLiteral("Font_deu_01.bft"));
        QCOMPARE(pack.languageNames(VHLanguageMap()).size(), 2);
        QVERIFY(!pack.hasReleaseIni());
        QByteArray area;
        QVERIFY(pack.buildImage({QStringLiteral("deu"), QStringLiteral("fra")}, area));
        QCOMPARE(area.size(), VHPSFLanguageImage::kAreaSize);
        QCOMPARE(area.mid(16 + 9, 3), QByteArray("deu"));
    }

    // The language argument of an update: one code, or several joined by commas.
    void namedLanguages_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<QStringList>("codes"); // empty: refused
        QTest::newRow("one") << "deu" << QStringList{"deu"};
        QTest::newRow("several, in their order") << "fra,DEU, eng" << QStringList{"fra", "deu", "eng"};
        QTest::newRow("one twice") << "deu,deu" << QStringList();
        QTest::newRow("an unknown one") << "deu,xyz" << QStringList();
        QTest::newRow("an empty piece") << "deu,,eng" << QStringList();
        QTest::newRow("a path") << "../deu" << QStringList();
        QStringList many = VHLanguageMap().codes().mid(0, VHPSFLanguageImage::kMaxLanguages + 1);
        QTest::newRow("more than a directory holds") << many.join(',') << QStringList();
        many.removeLast();
        QTest::newRow("as many as a directory holds") << many.join(',') << many;
    }

    void namedLanguages()
    {
        QFETCH(QString, named);
        QFETCH(QStringList, codes);
        QCOMPARE(VHLanguageUpdate::namedLanguages(named), codes);
        if (!codes.isEmpty())
            QCOMPARE(VHLanguageUpdate::namedLanguages(VHLanguageUpdate::joinLanguages(codes)), codes);
    }

    // A choice is judged on the pack alone, by the image the device would get.
    void choiceChecked_data()
    {
        QTest::addColumn<int>("fontSize");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("choice");
        using Choice = VHPSFLanguagePack::Choice;
        QTest::newRow("fits") << 300 << QStringList{"fra", "eng"} << int(Choice::Fits);
        QTest::newRow("none") << 300 << QStringList() << int(Choice::Empty);
        QTest::newRow("a language the pack lacks") << 300 << QStringList{"eng", "ita"} << int(Choice::NoFile);
        QTest::newRow("larger than the area") << 400000 << QStringList{"eng", "deu", "fra"} << int(Choice::TooLarge);
        QTest::newRow("two of them fit") << 400000 << QStringList{"eng", "deu"} << int(Choice::Fits);
        QTest::newRow("more than a directory holds")
            << 300 << QStringList(VHPSFLanguageImage::kMaxLanguages + 1, "eng") << int(Choice::TooMany);
    }

    void choiceChecked()
    {
        QFETCH(int, fontSize);
        QFETCH(QStringList, codes);
        QFETCH(int, choice);
        VHPSFLanguagePackBuilder::Options options;
        options.fontSize = fontSize;
        VHArchiveFiles::Files files;
        for (const VHPSFLanguagePackBuilder::Entry &entry : VHPSFLanguagePackBuilder::entries(options))
            files.insert(entry.name, entry.bytes);
        VHPSFLanguagePack pack;
        QVERIFY(VHPSFLanguagePack::parse(files, pack));
        QCOMPARE(pack.languageCodes(VHLanguageMap()), (QStringList{"deu", "eng", "fra"}));
        QCOMPARE(int(pack.checkChoice(codes)), choice);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("reads");
        QTest::newRow("no base image") << QStringLiteral("Font_eng_01.bft") << QByteArray("ab") << false;
        QTest::newRow("base larger than the area")
            << QStringLiteral("aspens.bin") << QByteArray(VHPSFLanguageImage::kAreaSize + 1, 'x') << false;
        QTest::newRow("base and languages exceed the area")
            << QStringLiteral("aspens.bin") << QByteArray(VHPSFLanguageImage::kAreaSize - 100, 'x') << true;
    }

    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, reads);
        const VHArchiveFiles::Files files =
            filesWith({{name, bytes}, {QStringLiteral("Font_eng_01.bft"), VHPSFLanguagePackBuilder::font("eng", 300)}});
        VHPSFLanguagePack pack;
        const VHResult parsed = VHPSFLanguagePack::parse(files, pack);
        QCOMPARE(parsed.ok, reads);
        QVERIFY(parsed.ok || !parsed.reason.isEmpty());
        QByteArray area;
        QVERIFY(!pack.buildImage({QStringLiteral("eng")}, area));
        QVERIFY(area.isEmpty());
    }

    void unpackRefusesBrokenArchives_data()
    {
        using Broken = VHPSFLanguagePackBuilder::Broken;
        QTest::addColumn<int>("broken");
        QTest::addColumn<bool>("ok");
        QTest::newRow("whole") << int(Broken::None) << true;
        QTest::newRow("zip-slip") << int(Broken::ZipSlip) << false;
        QTest::newRow("truncated") << int(Broken::Truncated) << false;
    }

    // The pack as the device takes it: read whole from the archive by the bounded reader, then parsed.
    void unpackRefusesBrokenArchives()
    {
        QFETCH(int, broken);
        QFETCH(bool, ok);
        VHPSFLanguagePackBuilder::Options options;
        options.broken = VHPSFLanguagePackBuilder::Broken(broken);
        const QString zip = m_dir.filePath(QStringLiteral("pack%1.zip").arg(broken));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(zip, options));
        VHArchiveFiles::Files files;
        VHPSFLanguagePack pack;
        QCOMPARE(bool(VHArchiveFiles::read(zip, files)) && bool(VHPSFLanguagePack::parse(files, pack)), ok);
        QCOMPARE(pack.languageFile(QStringLiteral("eng")).isEmpty(), !ok);
    }
};

QTEST_GUILESS_MAIN(TestVHPSFDeviceLanguagePack)
#include "tst_VHPSFDeviceLanguagePack.moc"
