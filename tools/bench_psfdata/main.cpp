// Times getTracks over a store whose track region is full, and 100 name
// bitmaps asked for from a worker thread while the GUI thread renders them.
//   bench_psfdata [--runs N]

#include "VHPSFBitFontCreator.h"
#include "VHPSFDevice.h"
#include "VHPSFStoreBuilder.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

double timeTracks(VHPSFDevice &device, int &count)
{
    QElapsedTimer timer;
    timer.start();
    QVariantList tracks;
    device.getTracks(tracks);
    count = 0;
    for (const QVariant &track : tracks)
        count += track.toMap().value(QStringLiteral("Points")).toInt();
    return timer.nsecsElapsed() / 1e6;
}

double timeNames(VHPSFBitFontCreatorSupport &creator, int &made)
{
    made = 0;
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> worker(QThread::create([&] {
        for (int i = 0; i < 100; ++i)
            made += creator.createBitfont(QStringLiteral("Route number %1 by the lake").arg(i), false) ? 1 : 0;
    }));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int at = int(app.arguments().indexOf(QStringLiteral("--runs")));
    const int runs = at > 0 && at + 1 < app.arguments().size() ? std::max(1, app.arguments()[at + 1].toInt()) : 5;
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("store.bin"));
    const VHPSFStoreBuilder::Records records = VHPSFStoreBuilder::fullTrackRecords(VHPSFStoreBuilder::Layout::A);
    if (!VHPSFStoreBuilder::writeImage(path, {}, records))
        return 1;

    QList<double> tracks, names;
    int points = 0, made = 0;
    for (int run = 0; run < runs; ++run) {
        VHPSFDevice device;
        if (!device.loadImageFromFile(path) || !device.initial())
            return 1;
        tracks.append(timeTracks(device, points));
        VHPSFBitFontCreatorSupport creator;
        names.append(timeNames(creator, made));
    }
    std::printf("getTracks, full store (%d segments, %d points): median %.1f ms (target < 100)\n",
                int(records.segments.size()), points, median(tracks));
    std::printf("100 name bitmaps from a worker thread (%d made): median %.1f ms (target < 300)\n", made,
                median(names));
    return 0;
}
