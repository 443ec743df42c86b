// bench_galdata: times the GAL family's profile operations against the
// simulated device, each on a fresh worker thread as actions run: the first
// call into the helper module (the interpreter starts then), later calls into
// the module alone, and the whole profile-to-XML operation.
//
//   bench_galdata [--runs N]

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHFSDeviceService.h"
#include "VHGalDevice.h"
#include "VHGalPython.h"
#include "VHPython.h"
#include "gal_data_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <functional>

namespace {

QTextStream out(stdout);

// Milliseconds of work on a thread of its own.
double timedOnWorker(const std::function<bool()> &work, bool &ok)
{
    QElapsedTimer clock;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        clock.start();
        ok = work();
    }));
    thread->start();
    thread->wait();
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = int(args.indexOf(QStringLiteral("--runs")));
    const int runs = std::max(1, at > 0 ? args.value(at + 1).toInt() : 200);
    QTemporaryDir work;
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("xdg")).toUtf8());
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    VHPython::setModuleFolder(QStringLiteral(VH_PYTHON_MODULES));
    VHDevSim sim(work.filePath(QStringLiteral("sim")));
    if (!sim.createGal(QStringLiteral("gal"), VHDevSim::GalIdentity()) || !sim.plug(QStringLiteral("gal"))
        || !corvotest::writeGalData(sim.drivePath(QStringLiteral("gal")).toStdString())) {
        out << "can not create the simulated device: " << sim.lastError() << "\n";
        return 1;
    }
    const QString ini = work.filePath(QStringLiteral("bench.ini"));
    bool ok = false;
    const double first = timedOnWorker([&] { return VHGalPython::createProfileIni({"a"}, {"1"}, ini); }, ok);
    bool allOk = ok;
    const double later = timedOnWorker(
        [&] {
            bool good = true;
            for (int i = 0; i < runs; ++i)
                good = VHGalPython::createProfileIni({"a"}, {QString::number(i)}, ini) && good;
            return good;
        },
        ok);
    allOk = allOk && ok;
    const QString volume = sim.drivePath(QStringLiteral("gal"));
    std::unique_ptr<VHGalDevice, VHClientDeleter> device(new VHGalDevice);
    const VHModelInfo row{QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDER"), nullptr};
    device->setDeviceService(new VHFSDeviceService(volume, row, volume + QStringLiteral("/device.ini")));
    const QString xml = work.filePath(QStringLiteral("profile.xml"));
    const double profile = timedOnWorker([&] { return device->prepareUploadProfile(xml); }, ok);
    allOk = allOk && ok;
    out << "first python call (interpreter start):  " << QString::number(first, 'f', 1) << " ms (goal < 300)\n";
    out << "later python calls (" << runs << "):             " << QString::number(later / runs, 'f', 3)
        << " ms each (goal < 5)\n";
    out << "profile to XML (library + module):      " << QString::number(profile, 'f', 2) << " ms\n";
    return allOk ? 0 : 1;
}
