// The language pack as a value, no device: which entries it takes and what
// it refuses.

#include "VHLanguageMap.h"
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
