// veloraupdate-startup-bench: how long the updater takes from the start of
// its process to the first paint of its main window.
//
//   veloraupdate-startup-bench [--runs <n>] [--with-device]
//
// Each run starts this program again as a child, which does exactly what the
// updater's entry routine does (application object, init, the first
// connection call, the event loop) and reports when the main window first
// paints; the time counts from just before the child process was started, so
// loading the program and its libraries is included. With --with-device a
// simulated FIT device is plugged before the start, so the start-up scan finds
// it and the window shows it. Prints every run and the median.

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "VHFitRoad.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace {

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class FirstPaint : public QObject
{
public:
    explicit FirstPaint(qint64 startNs) : m_startNs(startNs) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTextStream(stdout) << "startup_ms " << double(nowNs() - m_startNs) / 1e6 << Qt::endl;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 m_startNs;
    bool m_done = false;
};

int child(int argc, char **argv)
{
    const qint64 startNs = qgetenv("ORLA_BENCH_START_NS").toLongLong();
    OrlaApp app(argc, argv);
    if (app.init() != 0)
        return 1;
    FirstPaint probe(startNs);
    app.controller()->mainWindow()->installEventFilter(&probe);
    app.controller()->onDeviceConnected(nullptr);
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(2); });
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.addOptions(
        {{QStringLiteral("runs"), QStringLiteral("Number of starts."), QStringLiteral("n"), QStringLiteral("15")},
         {QStringLiteral("with-device"), QStringLiteral("Plug a simulated device first.")}});
    args.process(app);
    QTemporaryDir work;
    // Nothing served: the addresses in vh.ini lead nowhere.
    VHFitRoad::Options stage;
    stage.work = work.path();
    stage.serve = false;
    stage.debugLog = false;
    stage.before.model = QStringLiteral("Pacer60F");
    VHFitRoad road(stage);
    if (!road.prepare() || (args.isSet(QStringLiteral("with-device")) && !road.plug()))
        return 1;
    QTextStream out(stdout);
    QList<double> times;
    const int runs = qMax(1, args.value(QStringLiteral("runs")).toInt());
    for (int run = 0; run < runs; ++run) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), road.xdgRoot());
        env.insert(QStringLiteral("VELORA_SIM_ROOT"), road.simRoot());
        env.insert(QStringLiteral("ORLA_BENCH_START_NS"), QString::number(nowNs()));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!process.waitForFinished(20000) || process.exitCode() != 0) {
            out << "run " << run << " failed: " << process.readAllStandardError() << Qt::endl;
            return 1;
        }
        const QString line = QString::fromUtf8(process.readAllStandardOutput()).trimmed().section('\n', -1);
        times << line.section(' ', 1).toDouble();
        out << "run " << run + 1 << ": " << times.last() << " ms" << Qt::endl;
    }
    std::sort(times.begin(), times.end());
    out << "median " << times.at(times.size() / 2) << " ms, fastest " << times.first() << " ms, slowest "
        << times.last() << " ms over " << times.size() << " starts" << Qt::endl;
    return 0;
}
