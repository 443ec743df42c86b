#include "VHByteReader.h"
#include "VHPSFRecord.h"
#include "VHPacer30ImageBuilder.h"
#include "VHPacer30Layout.h"

#include <QTest>

namespace Builder = VHPacer30ImageBuilder;

class tst_VHPSF : public QObject
{
    Q_OBJECT

private slots:
    void builderProfile_data();
    void builderProfile();
    void builderJournal();
};

void tst_VHPSF::builderProfile_data()
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

void tst_VHPSF::builderProfile()
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

void tst_VHPSF::builderJournal()
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

QTEST_GUILESS_MAIN(tst_VHPSF)
#include "tst_VHPSF.moc"
