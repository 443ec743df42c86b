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

    QString folderWith(const QList<std::pair<QString, QByteArray>> &files)
    {
        const QString folder = m_dir.filePath(QString::number(++m_count));
        QDir().mkpath(folder);
        for (const auto &[name, bytes] : files)
            writeFile(folder + QLatin1Char('/') + name, bytes);
        return folder;
    }
    int m_count = 0;

private slots:
    void baseAndLanguageEntries()
    {
        const QByteArray font = VHPSFLanguagePackBuilder::font(QStringLiteral("deu"), 40);
        const QString folder = folderWith({{QStringLiteral("a_linden.bin"), "L"},
                                           {QStringLiteral("z_Aspens.BIN"), "A"},
                                           {QStringLiteral("Font_DEU_00.bft"), "old"},
                                           {QStringLiteral("Font_deu_01.bft"), font}});
        VHPSFLanguagePack pack;
        QVERIFY(VHPSFLanguagePack::read(folder, pack));
        // "aspens.bin" is looked for first, whatever the name order.
        QVERIFY(pack.basePath().endsWith(QLatin1String("z_Aspens.BIN")));
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
        const QString folder = folderWith(
            {{name, bytes}, {QStringLiteral("Font_eng_01.bft"), VHPSFLanguagePackBuilder::font("eng", 300)}});
        VHPSFLanguagePack pack;
        QCOMPARE(bool(VHPSFLanguagePack::read(folder, pack)), reads);
        QByteArray area;
        QVERIFY(!pack.buildImage({QStringLiteral("eng")}, area));
        QVERIFY(area.isEmpty());
    }

    void linkedFilesAreNotRead()
    {
        const QString outside = m_dir.filePath(QStringLiteral("secret.bft"));
        writeFile(outside, VHPSFLanguagePackBuilder::font(QStringLiteral("eng"), 100));
        const QString folder = folderWith({{QStringLiteral("aspens.bin"), "base"}});
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/Font_eng_01.bft")));
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/linden.bin")));
        VHPSFLanguagePack pack;
        QVERIFY(VHPSFLanguagePack::read(folder, pack));
        QVERIFY(pack.languageFile(QStringLiteral("eng")).isEmpty());
        // The linked font is not read: no language can be placed, so no image is built.
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

    void unpackRefusesBrokenArchives()
    {
        QFETCH(int, broken);
        QFETCH(bool, ok);
        VHPSFLanguagePackBuilder::Options options;
        options.broken = VHPSFLanguagePackBuilder::Broken(broken);
        const QString zip = m_dir.filePath(QStringLiteral("pack%1.zip").arg(broken));
        QVERIFY(VHPSFLanguagePackBuilder::writePackage(zip, options));
        const QString folder = m_dir.filePath(QStringLiteral("unpacked/langpack"));
        writeFile(folder + QStringLiteral("/stale_fra_.bft"), "left over");
        QCOMPARE(bool(VHPSFLanguagePack::unpack(zip, folder)), ok);
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/stale_fra_.bft")));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("unpacked/Font_ita_01.bft"))));
    }
};

QTEST_GUILESS_MAIN(TestVHPSFDeviceLanguagePack)
#include "tst_VHPSFDeviceLanguagePack.moc"
