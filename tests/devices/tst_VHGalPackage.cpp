#include "VHGalPackage.h"
#include "VHGalPackageBuilder.h"

#include <QTest>

using Font = VHGalPackage::LanguageFile;
using Fonts = QList<Font>;
using Release = VHGalPackage::Release;
Q_DECLARE_METATYPE(Fonts)
Q_DECLARE_METATYPE(VHGalPackageBuilder::Options)

namespace {

// A font: a version word, the three-letter code at bytes 4-6, then `body` bytes of `fill`.
Font font(const QString &name, const QByteArray &code, int body = 9, char fill = 'f')
{
    return {name, QByteArray("V") + name.left(3).toLatin1() + code + QByteArray(body, fill)};
}

quint32 u32At(const QByteArray &bytes, int at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    return bytes;
}

Release release(const QByteArray &imgGroup) { return VHGalPackage::readRelease("[IMG]\nName=Sycamore\n" + imgGroup); }

} // namespace

class TestVHGalPackage : public QObject
{
    Q_OBJECT

private slots:
    void readsReleaseIni_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QStringList>("texts");      // name, langVersion, imageVersion, bootLoaderVersion
        QTest::addColumn<QList<quint32>>("numbers"); // size, imageStart, langStart
        QTest::addColumn<QList<bool>>("validStarts");

        QTest::newRow("everything") << QByteArray("[IMG]\r\nName=Syc\r\nSize=963\r\nExt_FlashImageStartAddr=0x10000\r\n"
                                                  "Ext_FlashLangStartAddr=200000\r\nLangVersion=L2\r\n[OS]\r\n"
                                                  "Version=1.2\r\n[BootLoader]\r\nVersion=R002\r\n")
                                    << QStringList{"Syc", "L2", "1.2", "R002"}
                                    << QList<quint32>{963 * 1024, 0x10000, 0x200000} << QList<bool>{true, true};
        // Nothing usable read.
        const auto none = [](const char *name, const QByteArray &ini) {
            QTest::newRow(name) << ini << QStringList{"", "", "", ""} << QList<quint32>{0, 0, 0}
                                << QList<bool>{false, false};
        };
        none("nothing given", "[OS]\nName=x\n");
        none("bad hex", "[IMG]\nExt_FlashImageStartAddr=0x12G\nExt_FlashLangStartAddr=0x\n");
        none("beyond 32 bits, signed", "[IMG]\nExt_FlashImageStartAddr=100000000\nExt_FlashLangStartAddr=-1000\n");
        QTest::newRow("largest size, upper-case hex")
            << QByteArray("[IMG]\nSize=4194303\nExt_FlashImageStartAddr=0XFFFFF000\nExt_FlashLangStartAddr=0\n")
            << QStringList{"", "", "", ""} << QList<quint32>{4194303u * 1024, 0xFFFFF000, 0} << QList<bool>{true, true};
        for (const char *size : {"4194304", "99999999999999999999", "12abc", "+4", "-4", "1.5"})
            none(size, "[IMG]\nSize=" + QByteArray(size));
    }
    void readsReleaseIni()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QStringList, texts);
        QFETCH(QList<quint32>, numbers);
        QFETCH(QList<bool>, validStarts);
        const Release read = VHGalPackage::readRelease(ini);
        const VHImageMetaInfo &info = read.info;
        QCOMPARE((QStringList{info.name, info.langVersion, info.imageVersion, info.bootLoaderVersion}), texts);
        QCOMPARE((QList<quint32>{info.size, info.imageStart, info.langStart}), numbers);
        QCOMPARE((QList<bool>{read.imageStartValid, read.langStartValid}), validStarts);
    }

    void defaultsWithoutReleaseIni()
    {
        QCOMPARE(VHGalPackage::defaultImageInfo("Pacer20plus").name, QStringLiteral("SycamorePlus"));
        QCOMPARE(VHGalPackage::defaultImageInfo("Pacer21").name, QStringLiteral("SycamoreBR"));
        QCOMPARE(VHGalPackage::defaultImageInfo("Pacer21").size, 0xF0800u);
        const VHImageMetaInfo other = VHGalPackage::defaultImageInfo("Pacer60");
        QVERIFY(other.name.isEmpty() && other.langVersion.isEmpty() && other.imageStart == 0);
        QCOMPARE(other.size, 985088u);
    }

    void choosesTheDeviceFontElseEnglish_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("device language, first in name order") << QStringList{"deu", "fra"} << "a_deu_1.bft";
        QTest::newRow("only the first device language counts") << QStringList{"ita", "deu"} << "b_eng_.bft";
        QTest::newRow("no device language") << QStringList() << "b_eng_.bft";
        QTest::newRow("code needs both underscores") << QStringList{"de"} << "b_eng_.bft";
    }
    void choosesTheDeviceFontElseEnglish()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, chosen);
        const Fonts fonts{font("z_eng_.bft", "eng"), font("b_deu_2.bft", "deu"), font("a_deu_1.bft", "deu"),
                          font("b_eng_.bft", "eng"), font("a_ita_.txt", "ita")};
        QCOMPARE(fonts.at(VHGalPackage::chooseLanguageFile(fonts, languages)).fileName, chosen);
        QCOMPARE(VHGalPackage::chooseLanguageFile({font("a_deu_.bft", "deu")}, {"fra"}), -1);
    }

    void buildsTheLanguageTable()
    {
        const Fonts fonts{font("2_eng_.bft", "eng", 5000, 'e'),
                          {"0_bad_.bft", "abc"},
                          font("1_deu_.bft", "deu", 3),
                          font("3_fra_.txt", "fra")};
        const VHGalPackage::LangBinary binary = VHGalPackage::langBinary(fonts);
        QVERIFY(binary.ok());
        QCOMPARE(binary.skipped, QStringList{"0_bad_.bft"});
        const QByteArray &bytes = binary.bytes;
        const QByteArray deu = fonts.at(2).bytes, eng = fonts.at(0).bytes;
        QCOMPARE(bytes.size(), 229 + deu.size() + eng.size());
        QCOMPARE(u32At(bytes, 0), 0x77A0B2C3u);
        QCOMPARE(bytes.mid(4, 4), deu.left(4));
        QCOMPARE(int(bytes.at(8)), 2);
        QCOMPARE(bytes.mid(9, 60), QByteArray("deueng") + QByteArray(54, '\0'));
        QCOMPARE(u32At(bytes, 69), 229u);
        QCOMPARE(u32At(bytes, 73), quint32(229 + deu.size()));
        QCOMPARE(u32At(bytes, 77), 0u);
        QCOMPARE(u32At(bytes, 149), quint32(deu.size()));
        QCOMPARE(u32At(bytes, 153), quint32(eng.size()));
        QCOMPARE(bytes.mid(229), deu + eng);

        // Less than one flash block would never be written: zero-padded to one.
        const QByteArray small = VHGalPackage::langBinary({fonts.at(2)}).bytes;
        QCOMPARE(small.size(), 4096);
        QCOMPARE(small.mid(229 + deu.size()), QByteArray(4096 - 229 - deu.size(), '\0'));
    }

    void placesTwentyFontsAndReportsTheRest()
    {
        Fonts fonts;
        for (int i = 21; i >= 1; --i)
            fonts << font(QStringLiteral("f%1_eng_.bft").arg(i, 2, 10, QLatin1Char('0')),
                          "e" + QByteArray::number(i % 10) + "x");
        const VHGalPackage::LangBinary binary = VHGalPackage::langBinary(fonts);
        QVERIFY(binary.ok());
        QCOMPARE(binary.leftOut, QStringList{"f21_eng_.bft"});
        QCOMPARE(int(binary.bytes.at(8)), 20);
        QCOMPARE(binary.bytes.mid(9 + 19 * 3, 3), QByteArray("e0x"));
        QCOMPARE(u32At(binary.bytes, 69 + 19 * 4), quint32(229 + 19 * fonts.first().bytes.size()));
        QVERIFY(!VHGalPackage::langBinary({{"a_eng_.bft", "abcdef"}}).ok());
    }

    void buildsTheImage_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<int>("infoSize");
        QTest::addColumn<bool>("withProfile");
        QTest::newRow("padded and extended") << 3000 << 12288 << false;
        QTest::newRow("parts fill the size exactly") << 4096 << 4096 + 300 + 115 << false;
        QTest::newRow("profile appended") << 2048 << 8192 << true;
        QTest::newRow("parts exceed the size") << 4097 << 4096 + 300 + 115 << false;
        QTest::newRow("size below the tail's source") << 0 << 151 << false;
    }
    void buildsTheImage()
    {
        QFETCH(int, imageSize);
        QFETCH(int, infoSize);
        QFETCH(bool, withProfile);
        const QByteArray image = pattern(imageSize, 1), header = pattern(300, 2), lang = pattern(115, 3);
        const std::optional<QByteArray> profile =
            withProfile ? std::optional<QByteArray>(pattern(500, 4)) : std::nullopt;
        VHImageMetaInfo info;
        info.size = quint32(infoSize);
        const VHGalPackage::Binary binary = VHGalPackage::imageBinary(image, header, lang, info, profile);
        const int padded = (imageSize + 2047) / 2048 * 2048;
        if (padded + 415 > infoSize || infoSize < 152) {
            QVERIFY(!binary.ok() && binary.bytes.isEmpty());
            return;
        }
        QVERIFY(binary.ok());
        const QByteArray &bytes = binary.bytes;
        QCOMPARE(bytes.size(), infoSize + (profile ? profile->size() : 0));
        QByteArray expected = image + QByteArray(padded - imageSize, '\0') + header + lang;
        expected += QByteArray(infoSize - expected.size(), '\0');
        expected.replace(infoSize - 4, 4, expected.mid(148, 4));
        QVERIFY(expected.mid(infoSize - 4) != (image + header + lang).right(4)); // the tail really changed
        QCOMPARE(bytes.left(infoSize), expected);
        QCOMPARE(bytes.mid(infoSize), profile.value_or(QByteArray()));
    }

    void refusesPlansThatCanNotBeFlashed_data()
    {
        QTest::addColumn<QByteArray>("imgGroup");
        QTest::addColumn<Fonts>("fonts");
        QTest::addColumn<QString>("iapName");
        QTest::addColumn<bool>("withHeader");
        QTest::addColumn<QString>("refusal"); // part of the reason; empty when accepted
        QTest::addColumn<int>("chosen");      // the font in the image

        const Fonts fonts{font("a_eng_.bft", "eng"), font("a_deu_.bft", "deu")};
        Fonts many;
        for (int i = 0; i < 21; ++i)
            many << font(QStringLiteral("x%1_eng_.bft").arg(i, 2, 10, QLatin1Char('0')), "eng");
        // Size 16 KiB and the two start addresses.
        const auto at = [](const char *image, const char *lang) {
            return "Size=16\nExt_FlashImageStartAddr=" + QByteArray(image) + "\nExt_FlashLangStartAddr=" + lang + '\n';
        };
        const QByteArray apart = at("0x1000", "0x6000");
        const auto row = [&](const char *name, const QByteArray &imgGroup, const char *refusal, int chosen = 0,
                             const Fonts &with = {}, const char *iapName = "IAP", bool withHeader = true) {
            QTest::newRow(name) << imgGroup << (with.isEmpty() ? fonts : with) << QString::fromLatin1(iapName)
                                << withHeader << QString::fromLatin1(refusal) << chosen;
        };
        row("sound", apart, "", 1);
        row("21 fonts", apart, "", 0, many);
        row("last addressable block", at("FFFC000", "0"), "", 1);
        row("no name", "Name=\n" + apart, "no image name");
        row("size 0", QByteArray(at("0", "0x6000")).replace("Size=16", "Size=0"), "no image size");
        row("bad hex", at("0x1000", "6000h"), "hexadecimal");
        row("unaligned", at("0x1800", "0x6000"), "multiple of 4096");
        row("overlapping", at("0x1000", "0x4000"), "overlap");
        row("image beyond block 65535", at("FFFD000", "0"), "beyond flash block");
        row("language beyond block 65535", at("0", "10000000"), "beyond flash block");
        row("no header", apart, "header.bin", 0, fonts, "IAP", false);
        row("no language file", apart, "no language file", 0, {font("a_fra_.bft", "fra")});
        row("only a 3-byte font", apart, "no usable language file", 0, {{"a_eng_.bft", "V12"}});
        row("empty IAP name", apart, "IAP name", 0, fonts, " ");
        row("parts exceed the size", QByteArray(at("0", "0x6000")).replace("Size=16", "Size=4"), "exceed");
    }
    void refusesPlansThatCanNotBeFlashed()
    {
        QFETCH(QByteArray, imgGroup);
        QFETCH(Fonts, fonts);
        QFETCH(QString, iapName);
        QFETCH(bool, withHeader);
        QFETCH(QString, refusal);
        QFETCH(int, chosen);
        VHGalPackage::Parts parts;
        parts.image = pattern(5000, 1);
        if (withHeader)
            parts.header = pattern(100, 2);
        parts.languages = fonts;
        const VHGalPackage::FlashPlan plan = VHGalPackage::flashPlan(release(imgGroup), parts, {"deu"}, iapName);
        QVERIFY2(plan.result.reason.contains(refusal), qPrintable(plan.result.reason));
        QCOMPARE(plan.result.ok, refusal.isEmpty());
        QCOMPARE(plan.image.isEmpty(), !refusal.isEmpty());
        if (!refusal.isEmpty())
            return;
        QCOMPARE(plan.image.size(), 16 * 1024);
        QCOMPARE(plan.image.mid(6144 + 100, fonts.at(chosen).bytes.size()), fonts.at(chosen).bytes);
        QCOMPARE(plan.language, VHGalPackage::langBinary(fonts).bytes);
        QCOMPARE(plan.leftOutLanguages.size(), qMax(0, int(fonts.size()) - 20));
        QCOMPARE(plan.imageBlock, release(imgGroup).info.imageStart / 4096);
    }

    void namesTheImageAndTheRestore()
    {
        const QStringList names{"iap.bin", "header.bin", "Sycamore.bft", "Sycamore_v2.bin", "Sycamore_v1.bin"};
        QCOMPARE(VHGalPackage::imageFileName(names, "Sycamore"), QStringLiteral("Sycamore_v1.bin"));
        QVERIFY(VHGalPackage::imageFileName(names, "").isEmpty());
        QVERIFY(VHGalPackage::imageFileName({"header.bin"}, "header").isEmpty());

        QCOMPARE(VHGalPackage::restoreName("Name=Syc\n[IMG]\nName=Other\n"), QStringLiteral("Syc"));
        for (const char *ini : {"[IMG]\nName=Syc\n", "Name=../Syc\n", "Name=a/b\n", "Name=..\n", ""})
            QVERIFY2(VHGalPackage::restoreName(ini).isEmpty(), ini);
    }

    // The fixture packages the device and simulator tests use plan as they are meant to.
    void fixturePackagesPlanAsBuilt_data()
    {
        using namespace VHGalPackageBuilder;
        QTest::addColumn<Options>("options");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("sound") << Options() << "";
        const QMap<Broken, QString> refusals{{Broken::NoReleaseIni, "no image name"},
                                             {Broken::BadHex, "hexadecimal"},
                                             {Broken::Overlapping, "overlap"},
                                             {Broken::Unaligned, "multiple of 4096"},
                                             {Broken::TwentyOneFonts, ""},
                                             {Broken::ShortFont, "no usable language file"},
                                             {Broken::ZipSlip, ""}};
        for (Broken kind : allBroken())
            QTest::newRow(qPrintable(brokenName(kind))) << broken(kind) << refusals.value(kind);
    }
    void fixturePackagesPlanAsBuilt()
    {
        QFETCH(VHGalPackageBuilder::Options, options);
        QFETCH(QString, refusal);
        VHGalPackage::Parts parts;
        QByteArray releaseIni;
        QStringList names;
        for (const auto &[name, bytes] : VHGalPackageBuilder::files(options)) {
            names << name;
            if (name == QLatin1String("release.ini"))
                releaseIni = bytes;
            else if (name == QLatin1String("header.bin"))
                parts.header = bytes;
            else if (name.endsWith(QLatin1String(".bft")))
                parts.languages << Font{name, bytes};
        }
        const Release read = VHGalPackage::readRelease(releaseIni);
        const QString image = VHGalPackage::imageFileName(names, read.info.name);
        for (const auto &[name, bytes] : VHGalPackageBuilder::files(options)) {
            if (name == image)
                parts.image = bytes;
        }
        const VHGalPackage::FlashPlan plan = VHGalPackage::flashPlan(read, parts, {"deu"}, "IAP");
        QVERIFY2(plan.result.reason.contains(refusal), qPrintable(plan.result.reason));
        QCOMPARE(plan.result.ok, refusal.isEmpty());
        if (!plan.result.ok)
            return;
        // The simulator installs the version from the image's line at a sector start.
        QVERIFY(plan.image.startsWith("VELORA-SIM-IMAGE Kind=OS Version=2.1.0\n"));
        QCOMPARE(plan.imageBlock * 4096, 0x10000u);
        QCOMPARE(plan.leftOutLanguages.size(), parts.languages.size() > 20 ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestVHGalPackage)
#include "tst_VHGalPackage.moc"
