#include "VHPSFBitFont.h"
#include "VHPSFBitFontCreator.h"
#include "VHPSFMultiLangString_1_5.h"
#include "VHTestLog.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QPainter>
#include <QTest>
#include <QThread>

#include <cstdio>

namespace {

int u16At(const QByteArray &bytes, int offset) { return quint8(bytes[offset]) | (quint8(bytes[offset + 1]) << 8); }

int inkPixels(const VHPSFMultiLangString_1_5 &record)
{
    int count = 0;
    for (char byte : record.bitmap())
        count += std::popcount(quint8(byte));
    return count;
}

// Runs work on a worker while this thread serves its events.
bool onWorker(const std::function<void()> &work)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    QElapsedTimer timer;
    timer.start();
    while (!thread->isFinished() && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return thread->wait(1000);
}

} // namespace

class tst_VHPSFBitFont : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFontDatabase::addApplicationFont(QStringLiteral(VH_TEST_FONT)) >= 0);
        QVERIFY(VHPSFBitFont::font().family() == QLatin1String("DejaVu Sans")
                || QFontDatabase::families().contains(QStringLiteral("Microsoft Sans Serif")));
    }

    void recordReadsWithinItsBytes_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("size"); // -1: refused
        const QByteArray good = QByteArray::fromHex("0200"
                                                    "0400"
                                                    "656e67"
                                                    "00"
                                                    "2000"
                                                    "0100"
                                                    "f0000000");
        QTest::newRow("whole") << good << 0 << 16;
        QTest::newRow("at offset") << QByteArray("xyz") + good << 3 << 16;
        QTest::newRow("bitmap passes the end") << good.left(15) << 0 << -1;
        QTest::newRow("length passes the end") << QByteArray::fromHex("0000ffff656e6700200001000000") << 0 << -1;
        QTest::newRow("header short") << good.left(11) << 0 << -1;
        QTest::newRow("offset past the end") << good << 17 << -1;
        QTest::newRow("negative offset") << good << -1 << -1;
    }

    void recordReadsWithinItsBytes()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, offset);
        QFETCH(int, size);
        LogCapture log;
        const auto record = VHPSFMultiLangString_1_5::read(data, offset);
        QCOMPARE(record ? record->size() : -1, size);
        if (!record)
            QVERIFY(log.contains("passes the end"));
        else
            QCOMPARE(record->languageCode(), QByteArray("eng"));
    }

    void recordRoundTripAndDisplay()
    {
        // 33 x 2: two words per row; pixel (1, 0) and the bottom-right one set
        // (the top-left one would mark the bitmap packed).
        const QByteArray bitmap = QByteArray::fromHex("40000000 00000000 00000000 80000000");
        auto record = VHPSFMultiLangString_1_5::create("ger", 33, 2, bitmap);
        QCOMPARE(record.size(), 12 + 16);
        QVERIFY(!record.hasNext());
        record.setHasNext(true);
        const auto back = VHPSFMultiLangString_1_5::read(record.bytes());
        QVERIFY(back && back->hasNext());
        QCOMPARE(back->bitmap(), bitmap);
        const QImage image = back->toImage();
        QCOMPARE(image.size(), QSize(33, 2));
        QCOMPARE(image.pixelIndex(1, 0), 1);
        QCOMPARE(image.pixelIndex(32, 1), 1);
        QCOMPARE(image.pixelIndex(0, 0), 0);
        QCOMPARE(image.pixelIndex(31, 1), 0);
        // A packed bitmap is not decoded, and a short one is not read past.
        QVERIFY(VHPSFMultiLangString_1_5::create("ger", 16, 16, QByteArray::fromHex("8110ff")).toImage().isNull());
        QVERIFY(VHPSFMultiLangString_1_5::create("ger", 128, 16, QByteArray(255, 0)).toImage().isNull());
    }

    void nameSizesAndInk()
    {
        const auto record = VHPSFBitFont::createBitfont(QStringLiteral("Morning run"), false);
        QVERIFY(record);
        QCOMPARE(u16At(record->bytes(), 2), 256);
        QCOMPARE(u16At(record->bytes(), 8), 128);
        QCOMPARE(u16At(record->bytes(), 10), 16);
        QCOMPARE(record->size(), 12 + 256);
        QVERIFY(inkPixels(*record) > 20);
        QCOMPARE(record->toImage().size(), QSize(128, 16));
    }

    void longNameIsCutButNotBelowSix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("cut");
        QTest::newRow("fits") << "Lake loop" << 128 << false;
        QTest::newRow("long") << "The long way round the lake and back over the hill" << 128 << true;
        QTest::newRow("narrow keeps six") << "Abcdefghijkl" << 8 << true;
        QTest::newRow("10000 characters") << QString(10000, QLatin1Char('W')) << 128 << true;
    }

    void longNameIsCutButNotBelowSix()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, cut);
        QImage canvas(128, 16, QImage::Format_RGB32);
        QPainter painter(&canvas);
        painter.setFont(VHPSFBitFont::font());
        QString painted = text;
        QElapsedTimer timer;
        timer.start();
        const QRect rect = VHPSFBitFont::calcPaintSize(painter, painted, width, 16);
        QVERIFY(timer.elapsed() < 2000);
        QCOMPARE(rect, QRect(0, 0, width, 16));
        QVERIFY(text.startsWith(painted));
        QCOMPARE(painted.size() < text.size(), cut);
        QVERIFY(painted.size() >= 6);
        const QRect bounds = painter.boundingRect(rect, Qt::AlignLeft | Qt::AlignVCenter, painted);
        if (painted.size() > 6) {
            QVERIFY(bounds.width() <= width);
            // One more character would not have fitted.
            if (cut)
                QVERIFY(
                    painter.boundingRect(rect, Qt::AlignLeft | Qt::AlignVCenter, text.left(painted.size() + 1)).width()
                    > width);
        }
    }

    void tooLongWordLogsAndStillDraws()
    {
        LogCapture log;
        const auto record = VHPSFBitFont::createBitfont(QString(60, QLatin1Char('M')), true);
        QVERIFY(record);
        QVERIFY2(log.contains("calcPaintSize: word is too long toPaint width="), qPrintable(log.all()));
        QVERIFY(log.contains("canPaint width=128"));
        QCOMPARE(record->width(), 128);
        QVERIFY(inkPixels(*record) > 20);
    }

    void descriptionGrowsButStaysBounded()
    {
        LogCapture log;
        const auto shortDesc = VHPSFBitFont::createBitfont(QStringLiteral("Easy"), true);
        const auto longDesc =
            VHPSFBitFont::createBitfont(QStringLiteral("Warm up then steady pace ").repeated(8), true);
        const auto huge = VHPSFBitFont::createBitfont(QStringLiteral("word ").repeated(2000), true);
        QVERIFY(shortDesc && longDesc && huge);
        QVERIFY(
            log.contains(QStringLiteral("w=128,h=%1, size=%2").arg(shortDesc->height()).arg(shortDesc->height() * 16)));
        QVERIFY(shortDesc->height() > 16 && longDesc->height() > shortDesc->height() + 30);
        QCOMPARE(huge->height(), 2000);
        QVERIFY(huge->bitmapLength() <= 0x8000);
        QCOMPARE(u16At(huge->bytes(), 2), huge->bitmapLength());
    }

    void hostileNamesRender_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("right to left") << QStringLiteral("מסלול הבוקר ליד האגם הגדול");
        QTest::newRow("arabic") << QStringLiteral("طريق الصباح حول البحيرة");
        QTest::newRow("cjk") << QStringLiteral("湖畔の朝のランニングコース長い名前です");
        QTest::newRow("surrogates") << QString::fromUtf8("\xF0\x9F\x8F\x83").repeated(40);
        QTest::newRow("sql") << QStringLiteral("'); DROP TABLE routes;--");
        QTest::newRow("empty") << QString();
        QTest::newRow("10000 mixed") << QStringLiteral("湖a ").repeated(3334);
    }

    void hostileNamesRender()
    {
        QFETCH(QString, text);
        for (bool isDesc : {false, true}) {
            const auto record = VHPSFBitFont::createBitfont(text, isDesc);
            QVERIFY(record);
            QCOMPARE(record->size(), 12 + record->bitmapLength());
            QVERIFY(record->width() == 128 && record->height() <= 2000);
            QVERIFY(VHPSFMultiLangString_1_5::read(record->bytes()));
        }
    }

    void workerAndGuiThreadRequests()
    {
        VHPSFBitFontCreatorSupport *support = nullptr;
        // Made on a worker, it still serves from the GUI thread.
        QVERIFY(onWorker([&] { support = new VHPSFBitFontCreatorSupport; }));
        std::unique_ptr<VHPSFBitFontCreatorSupport> owner(support);
        QCOMPARE(support->thread(), QCoreApplication::instance()->thread());

        const auto direct = support->createBitfont(QStringLiteral("Hill repeats"), false);
        QVERIFY(direct);
        int made = 0;
        qint64 elapsedMs = 0;
        QByteArray workerBytes;
        QVERIFY(onWorker([&] {
            QElapsedTimer timer;
            timer.start();
            for (int i = 0; i < 100; ++i) {
                const auto record = support->createBitfont(QStringLiteral("Route %1").arg(i), false);
                made += record ? 1 : 0;
            }
            elapsedMs = timer.elapsed();
            if (const auto again = support->createBitfont(QStringLiteral("Hill repeats"), false))
                workerBytes = again->bytes();
        }));
        QCOMPARE(made, 100);
        QCOMPARE(workerBytes, direct->bytes());
        std::printf("100 name bitmaps from a worker: %lld ms\n", elapsedMs);
    }
};

QTEST_MAIN(tst_VHPSFBitFont)
#include "tst_VHPSFBitFont.moc"
