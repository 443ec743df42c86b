#include "VHByteReader.h"
#include "VHPSF.h"
#include "VHPSFRecord.h"
#include "VHPacer30ImageBuilder.h"
#include "VHPacer30Layout.h"
#include "VHTestFiles.h"
#include "VHZipUtil.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace Builder = VHPacer30ImageBuilder;
using Fault = Builder::Fault;
using VHPacer30Layout::kRegionTable;

namespace {

const QString kVersion = QStringLiteral("1.4.0.3");

// The parts a write-back rebuilds: header area and dist header, routes, points of interest.
constexpr std::array<std::pair<qsizetype, qsizetype>, 3> kRebuilt = {
    {{0, 0x7000}, {0x10000, 0x20000}, {0xB0000, 0xC0000}}};

Builder::Options options(int routes, int pois, int slot = 2, Fault fault = Fault::None)
{
    Builder::Options o;
    o.routes = Builder::sampleRoutes(routes);
    o.pois = Builder::samplePois(pois);
    o.currentSlot = slot;
    o.fault = fault;
    return o;
}

std::unique_ptr<VHPSF> read(const QByteArray &image, int slot = 2, QString *error = nullptr)
{
    return VHPSF::fromImage(image, Builder::slotOffset(slot), kRegionTable, kVersion, error);
}

// The image with the rebuilt parts cut out: what a write-back must keep.
QByteArray kept(QByteArray image)
{
    for (const auto &[from, to] : kRebuilt)
        image.replace(from, to - from, QByteArray(to - from, 'x'));
    return image;
}

} // namespace

class tst_VHPSF : public QObject
{
    Q_OBJECT

private slots:
    void builderProfile_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("record");
        QTest::addColumn<int>("flag");
        QTest::newRow("Pacer30") << "Pacer30" << 587 << 967;
        QTest::newRow("Pacer35") << "Pacer35" << 587 << -1;
        QTest::newRow("Pulsar30") << "Pulsar30" << 327 << 886;
        QTest::newRow("Pulsar35") << "Pulsar35" << 331 << 1194;
        QTest::newRow("Pacer20") << "Pacer20" << 331 << 1194;
    }

    void builderProfile()
    {
        QFETCH(QString, model);
        QFETCH(int, record);
        QFETCH(int, flag);
        Builder::Options options;
        options.model = model;
        for (bool initialised : {true, false}) {
            options.initialised = initialised;
            const QByteArray image = Builder::build(options);
            QCOMPARE(image.size(), VHPacer30Layout::kFlashSize);
            VHByteReader reader(image, VHPacer30Layout::kProfileOffset + record);
            QCOMPARE(reader.u8(), options.user.sex);
            QCOMPARE(reader.u8(), options.user.age);
            reader.skip(2 + 16);
            QCOMPARE(reader.u16(), options.user.maxHeartRate);
            if (flag >= 0)
                QCOMPARE(image[VHPacer30Layout::kProfileOffset + flag] != 0, initialised);
            QCOMPARE(image.mid(VHPacer30Layout::kProfileOffset + 2, 3) == QByteArray("\1\0\0", 3), record == 331);
        }
    }

    void builderJournal()
    {
        Builder::Options options;
        options.routes = Builder::sampleRoutes(2);
        for (int slot : {0, 2, 95}) {
            options.currentSlot = slot;
            const QByteArray image = Builder::build(options);
            const qsizetype at = Builder::slotOffset(slot);
            QCOMPARE(VHPSFRecord::marker(image, at), quint16(0xAA55));
            QCOMPARE(VHPSFRecord::marker(image, Builder::slotOffset((slot + 1) % 96)), quint16(0xFFFF));
            QCOMPARE(VHPSFRecord::storedCheck(image, at), VHPSFRecord::computeCheck(image, at));
            QCOMPARE(VHPSFRecord::storedSum(image, at), VHPSFRecord::computeSum(image, at));
            const VHPSFRegionFields route = VHPSFRecord::region(image, at, VHPSFRegion::Route);
            QCOMPARE(route.first, 0x10018u);
            QCOMPARE(route.end - route.first, quint32(Builder::routeBytes(options.routes[0], 0).size()
                                                      + Builder::routeBytes(options.routes[1], 0).size()));
        }
    }

    void currentRecord_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("fault");
        QTest::addColumn<qsizetype>("expected");
        QTest::newRow("first slot") << 0 << int(Fault::None) << qsizetype(0);
        QTest::newRow("third slot") << 2 << int(Fault::None) << qsizetype(512);
        QTest::newRow("past the commit word") << 20 << int(Fault::None) << qsizetype(20 * 256);
        QTest::newRow("wrapped") << 95 << int(Fault::None) << qsizetype(0x5F00);
        QTest::newRow("no free slot") << 2 << int(Fault::NoCurrentRecord) << qsizetype(-1);
    }

    void currentRecord()
    {
        QFETCH(int, slot);
        QFETCH(int, fault);
        QFETCH(qsizetype, expected);
        const QByteArray image = Builder::build(options(1, 1, slot, Fault(fault)));
        QCOMPARE(VHPSF::currentRecordOffset(image), expected);
        QCOMPARE(VHPSF::currentRecordOffset(image.left(0x5000)), qsizetype(-1));
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("routes");
        QTest::addColumn<int>("pois");
        QTest::addColumn<int>("slot");
        QTest::newRow("empty") << 0 << 0 << 0;
        QTest::newRow("routes and pois") << 3 << 4 << 0;
        QTest::newRow("later slot") << 2 << 5 << 7;
        QTest::newRow("wrapped journal") << 1 << 1 << 95;
        QTest::newRow("many") << 40 << 60 << 3;
    }

    void roundTrip()
    {
        QFETCH(int, routes);
        QFETCH(int, pois);
        QFETCH(int, slot);
        const QByteArray image = Builder::build(options(routes, pois, slot));
        QString error;
        const auto psf = read(image, slot, &error);
        QVERIFY2(psf, qPrintable(error));
        QVERIFY2(psf->checkIntegrity(&error), qPrintable(error));
        QCOMPARE(int(psf->routes().routes().size()), routes);
        QCOMPARE(int(psf->pois().pois().size()), pois);
        QCOMPARE(psf->distHeader().versionText(), QByteArray("1400"));

        QByteArray out = image;
        QVERIFY2(psf->writeInto(out, &error), qPrintable(error));
        const qsizetype record = Builder::slotOffset(slot);
        QCOMPARE(out.mid(0, 256), image.mid(record, 256));
        QCOMPARE(out.mid(0x6000), image.mid(0x6000));
        if (slot == 0)
            QCOMPARE(out, image);
        else
            QCOMPARE(VHPSFRecord::marker(out, 256), quint16(0xFFFF));
    }

    void editKeepsRecordings()
    {
        const QByteArray image = Builder::build(options(5, 3));
        auto psf = read(image);
        QVERIFY(psf);
        QCOMPARE(psf->routes().removeKind(0), 3); // routes 1, 3 and 5
        auto poi = std::make_unique<VHPSFPOI>();
        poi->id = 77;
        poi->name = "Added";
        psf->pois().append(std::move(poi));
        QVERIFY(psf->pois().remove(1));
        QByteArray out = image;
        QString error;
        QVERIFY2(psf->writeInto(out, &error), qPrintable(error));

        QCOMPARE(kept(out), kept(image));
        QVERIFY(out.mid(0x10000, 0x10000) != image.mid(0x10000, 0x10000));
        // Nothing of the removed routes is left behind the rebuilt chain.
        const auto again = VHPSF::fromImage(out, 0, kRegionTable, kVersion, &error);
        QVERIFY2(again && again->checkIntegrity(&error), qPrintable(error));
        QCOMPARE(int(again->routes().routes().size()), 2);
        QCOMPARE(again->routes().routes()[0]->name, QByteArray("Route 2"));
        QCOMPARE(again->routes().routes()[1]->points.size(), size_t(8));
        QCOMPARE(again->pois().pois().back()->name, QByteArray("Added"));
        const VHPSFRegionFields route = again->managementHeader().region(VHPSFRegion::Route);
        QCOMPARE(route.end, route.first + quint32(again->routes().serialize().size() - 24));
        QCOMPARE(route.free, kRegionTable[13] - (route.end - route.first));
        QCOMPARE(out.mid(route.end, 0x20000 - route.end), QByteArray(0x20000 - route.end, char(0xFF)));
        for (int region = 0; region < kVHPSFRegionCount; ++region) {
            if (region != int(VHPSFRegion::Route))
                QCOMPARE(again->regionBytes(VHPSFRegion(region)), psf->regionBytes(VHPSFRegion(region)));
        }
    }

    void freshDevice_data()
    {
        QTest::addColumn<char>("poiFields");
        QTest::addColumn<bool>("addPoi");
        QTest::newRow("poi fields erased") << char(0xFF) << false;
        QTest::newRow("poi fields zero") << char(0) << false;
        QTest::newRow("first poi on erased fields") << char(0xFF) << true;
    }

    // Erased route and POI regions and a record that never named the POI part:
    // the data reads as empty and intact, and a write-back leaves the POI region
    // alone unless a point of interest was added.
    void freshDevice()
    {
        QFETCH(char, poiFields);
        QFETCH(bool, addPoi);
        QByteArray image = Builder::build(options(0, 0, 0));
        image.replace(0x10000, 0x18, QByteArray(0x18, char(0xFF)));
        image.replace(0xB0000, 0x10000, QByteArray(0x10000, char(0xFF)));
        image.replace(VHPacer30Layout::kPoiFieldsOffset, 12, QByteArray(12, poiFields));
        QVERIFY(VHPSFRecord::seal(image, 0));
        QString error;
        auto psf = read(image, 0, &error);
        QVERIFY2(psf && psf->checkIntegrity(&error), qPrintable(error));
        QVERIFY(psf->routes().routes().empty() && psf->pois().pois().empty());

        auto route = std::make_unique<VHPSFRoute>();
        route->name = "First";
        route->points.push_back(std::make_unique<VHPSFRoutePoint>());
        psf->routes().append(std::move(route));
        if (addPoi)
            psf->pois().append(std::make_unique<VHPSFPOI>());
        QByteArray out = image;
        QVERIFY2(psf->writeInto(out, &error), qPrintable(error));
        QCOMPARE(out.mid(0xB0000, 0x10000) == image.mid(0xB0000, 0x10000), !addPoi);
        const auto again = VHPSF::fromImage(out, 0, kRegionTable, kVersion, &error);
        QVERIFY2(again && again->checkIntegrity(&error), qPrintable(error));
        QCOMPARE(again->routes().routes().size(), size_t(1));
        QCOMPARE(again->pois().pois().size(), size_t(addPoi ? 1 : 0));
        QCOMPARE(again->managementHeader().poi().first, addPoi ? 0xB0018u : quint32(quint8(poiFields)) * 0x01010101u);
    }

    void brokenImages_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason"); // empty: the container is intact
        QTest::newRow("bad marker") << int(Fault::BadMarker) << "not in use";
        QTest::newRow("wrong check") << int(Fault::WrongCheck) << "check value";
        QTest::newRow("route end outside") << int(Fault::RegionEndOutside) << "region 1 ends outside";
        QTest::newRow("poi end outside") << int(Fault::PoiEndOutside) << "point-of-interest region ends outside";
        QTest::newRow("route chain too long") << int(Fault::RouteChainTooLong) << "route chain leaves";
        QTest::newRow("route first in header") << int(Fault::FirstInHeader) << "first route inside";
        QTest::newRow("poi count too high") << int(Fault::PoiCountTooHigh) << "count passes";
        // The chain ends at its unset next offset whatever the count says.
        QTest::newRow("route count too high") << int(Fault::RouteCountTooHigh) << "";
    }

    void brokenImages()
    {
        QFETCH(int, fault);
        QFETCH(QString, reason);
        const QByteArray image = Builder::build(options(3, 3, 2, Fault(fault)));
        QString error;
        const auto psf = read(image, 2, &error);
        QVERIFY2(psf, qPrintable(error));
        QString found;
        QCOMPARE(psf->checkIntegrity(&found), reason.isEmpty());
        QVERIFY2(found.contains(reason), qPrintable(found));
        QByteArray out = image;
        QCOMPARE(psf->writeInto(out, &error), reason.isEmpty());
        if (!reason.isEmpty())
            QCOMPARE(out, image);
        else
            QCOMPARE(int(psf->routes().routes().size()), 3);
    }

    void refusedInputs_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<qsizetype>("record");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("bigTable");
        const QByteArray image = Builder::build(options(2, 2));
        QTest::newRow("erased flash") << QByteArray(0x100000, char(0xFF)) << qsizetype(512) << kVersion << false;
        QTest::newRow("other version") << image << qsizetype(512) << "1.5.0.0" << false;
        QTest::newRow("empty version") << image << qsizetype(512) << "" << false;
        QTest::newRow("record past header") << image << qsizetype(0x6000) << kVersion << false;
        QTest::newRow("negative record") << image << qsizetype(-256) << kVersion << false;
        QTest::newRow("short image") << image.left(0x80000) << qsizetype(512) << kVersion << false;
        QTest::newRow("table of a bigger flash") << image << qsizetype(512) << kVersion << true;
    }

    void refusedInputs()
    {
        QFETCH(QByteArray, image);
        QFETCH(qsizetype, record);
        QFETCH(QString, version);
        QFETCH(bool, bigTable);
        VHPSF::Table table = kRegionTable;
        if (bigTable)
            table[36] = 0x180000;
        QString error;
        QVERIFY(!VHPSF::fromImage(image, record, table, version, &error));
        QVERIFY(!error.isEmpty());
    }

    void noiseNeverCrashes()
    {
        const QByteArray image = Builder::build(options(4, 4));
        for (quint64 seed = 1; seed <= 40; ++seed) {
            QByteArray noisy = image;
            quint64 state = seed;
            for (qsizetype at : {qsizetype(0x6000), qsizetype(0x10000), qsizetype(0xB0000)}) {
                for (qsizetype i = 0; i < 0x400; ++i) {
                    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                    noisy[at + i] = char(state >> 56);
                }
            }
            QString error;
            const auto psf = read(noisy, 2, &error);
            if (!psf)
                continue;
            QByteArray out = noisy;
            if (psf->checkIntegrity(&error))
                QVERIFY2(psf->writeInto(out, &error), qPrintable(error));
            else
                QVERIFY(!psf->writeInto(out, &error) && out == noisy);
        }
    }

    void packages_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("files");
        const QStringList readme{QStringLiteral("readme.txt")};
        QTest::newRow("loader both") << "both" << QStringList{"IPACER30.bin", "ITPACER30.bin"} + readme;
        QTest::newRow("temporary only") << "temporary-only" << QStringList{"ITPACER30.bin"} + readme;
        QTest::newRow("loader only") << "loader-only" << QStringList{"IPACER30.bin"} + readme;
        QTest::newRow("neither") << "neither" << readme;
        QTest::newRow("image") << "image" << QStringList{"PULSAR30_V005.bin", "readme.txt"};
        QTest::newRow("no image") << "no-image" << readme;
        QTest::newRow("restore") << "restore" << QStringList{"MAPLE.bin", "MAPLEExData.bin", "release.ini"};
    }

    void packages()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, files);
        QTemporaryDir dir;
        const QString zip = dir.filePath(QStringLiteral("package.zip"));
        const QString out = dir.filePath(QStringLiteral("out"));
        Builder::LoaderOptions loader;
        Builder::ImageZipOptions image;
        image.withImage = kind == QLatin1String("image");
        if (kind == QLatin1String("restore"))
            QVERIFY(Builder::writeRestoreFolder(out, QStringLiteral("MAPLE"), QStringLiteral("V005"), false, {}));
        else if (Builder::loaderPartsFromName(kind, &loader.parts))
            QVERIFY(Builder::writeLoaderZip(zip, loader));
        else
            QVERIFY(Builder::writePulsar30ImageZip(zip, image));
        VHZipUtil unzip;
        QVERIFY(kind == QLatin1String("restore") || unzip.decompress(zip, out));
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), files);
        if (kind == QLatin1String("restore")) {
            QVERIFY(readFile(out + QStringLiteral("/release.ini")).contains("ExData=no"));
            QCOMPARE(QFileInfo(out + QStringLiteral("/MAPLEExData.bin")).size(), VHPacer30Layout::kFlashSize);
        }
    }
};

QTEST_GUILESS_MAIN(tst_VHPSF)
#include "tst_VHPSF.moc"
