// bench_download: fetches a large package from the local package server with
// VeloraApiClient and with `curl -o`, in the same run, and reports the
// process's peak memory, the two throughputs and what the zip completeness
// check of the downloaded package costs. The road is signed, so the client
// fetches the signature and checks it beside the MD5 as the bytes arrive; the
// check of a package already on disk before a write (signature only: its MD5
// was checked at the download) is timed against an MD5 of the same file.
// Build without sanitizers to get meaningful numbers.

#include "VHEnv.h"
#include "VHFitRoad.h"
#include "VHMinisign.h"
#include "VHPackageSignature.h"
#include "VHTestTls.h"
#include "VHTrustedKeys.h"
#include "VHZipDirectory.h"
#include "VeloraApiClient.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kPeakLimit = 64 * kMiB;
constexpr double kThroughputGoal = 0.80;
constexpr double kZipCheckShare = 0.05;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// VmHWM of /proc/self/status, in bytes.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// Starts a new peak from the current resident size (Linux 4.0 and later).
bool resetPeakResident()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

struct Waiter : VeloraApiClientDelegate
{
    QEventLoop loop;
    bool result = false;
    void onUpdateFinished(bool ok) override
    {
        result = ok;
        loop.quit();
    }
};

// The road's test authority, so curl checks the server's certificate as the client does.
QString g_caFile;

// Seconds for curl to fetch `url` into `target`, or a negative value.
double timeCurl(const QString &url, const QString &target)
{
    QFile::remove(target);
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"), target, url};
    if (!g_caFile.isEmpty())
        arguments << QStringLiteral("--cacert") << g_caFile;
    QElapsedTimer timer;
    timer.start();
    const int code = QProcess::execute(QStringLiteral("curl"), arguments);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return code == 0 ? seconds : -1;
}

// Seconds for curl plus md5sum of the result: the same work the client does.
double timeCurlAndChecksum(const QString &url, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    if (timeCurl(url, target) < 0)
        return -1;
    QProcess md5sum;
    md5sum.setStandardOutputFile(QProcess::nullDevice());
    md5sum.start(QStringLiteral("md5sum"), {target});
    const bool ok = md5sum.waitForFinished(-1) && md5sum.exitCode() == 0;
    return ok ? timer.nsecsElapsed() / 1e9 : -1;
}

// Seconds for one query plus package download by the client, or a negative value.
double timeClient(const QString &folder)
{
    QFile::remove(folder + QStringLiteral("/version.txt"));
    Waiter waiter;
    VeloraApiClient client(&waiter);
    QElapsedTimer timer;
    timer.start();
    client.queryUpdate(QStringLiteral("Bench"), folder, false);
    waiter.loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    return waiter.result && QFileInfo::exists(folder + QStringLiteral("/version.txt")) ? seconds : -1;
}

double best(const QList<double> &values) { return *std::min_element(values.begin(), values.end()); }

// Seconds for the completeness check the client makes before it accepts a package.
double timeZipCheck(const QString &zip)
{
    QElapsedTimer timer;
    timer.start();
    const bool complete = VHZipDirectory::isComplete(zip);
    const double seconds = timer.nsecsElapsed() / 1e9;
    return complete ? seconds : -1;
}

// Seconds for an MD5 of the file at `path`, read in 1 MiB pieces.
double timeMd5(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray buffer(kMiB, Qt::Uninitialized);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (qint64 count = 0; (count = file.read(buffer.data(), buffer.size())) > 0;)
        md5.addData(QByteArrayView(buffer.constData(), count));
    md5.result();
    return timer.nsecsElapsed() / 1e9;
}

// Seconds for the check before a write: the stored signature against the file.
double timeSignatureCheck(const QString &path)
{
    const VHTrustedKeys keys = VHTrustedKeys::load();
    QElapsedTimer timer;
    timer.start();
    const bool ok = VHPackageSignature::check(path, keys).ok;
    return ok ? timer.nsecsElapsed() / 1e9 : -1;
}

// Seconds for MD5 and signature in one read pass, as the history records a written package.
double timeMd5AndSignature(const QString &path)
{
    const VHTrustedKeys keys = VHTrustedKeys::load();
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    VHMinisign::Verifier verifier;
    QByteArray buffer(kMiB, Qt::Uninitialized);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (qint64 count = 0; (count = file.read(buffer.data(), buffer.size())) > 0;) {
        md5.addData(QByteArrayView(buffer.constData(), count));
        verifier.addData(QByteArrayView(buffer.constData(), count));
    }
    md5.result();
    const bool ok = verifier.verify(VHPackageSignature::readSignature(path), keys, path).ok;
    return ok ? timer.nsecsElapsed() / 1e9 : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.addHelpOption();
    args.addOptions(
        {{QStringLiteral("size-mib"), QStringLiteral("Package size."), QStringLiteral("n"), QStringLiteral("256")},
         {QStringLiteral("rounds"), QStringLiteral("Downloads per method."), QStringLiteral("n"), QStringLiteral("3")},
         {QStringLiteral("rate-mib"), QStringLiteral("Pace the server like a link of this speed."), QStringLiteral("n"),
          QStringLiteral("0")},
         {QStringLiteral("dir"), QStringLiteral("Work folder (default: a temporary one)."), QStringLiteral("folder")},
         {QStringLiteral("https"),
          QStringLiteral("Serve over https. The server then encrypts in this process, on the same cores as the "
                         "client, and holds what it sends in memory.")}});
    args.process(app);
    const qint64 size = args.value(QStringLiteral("size-mib")).toLongLong() * kMiB;
    const int rounds = std::max(1, args.value(QStringLiteral("rounds")).toInt());

    QTemporaryDir temporary(args.isSet(QStringLiteral("dir"))
                                ? args.value(QStringLiteral("dir")) + QStringLiteral("/bench-XXXXXX")
                                : QDir::tempPath() + QStringLiteral("/bench-XXXXXX"));
    const QString work = temporary.path();
    VHFitRoad::Options stage;
    stage.work = work;
    stage.before.model = QStringLiteral("Bench");
    stage.package.compress = false;
    stage.package.images = VHFitPackageBuilder::defaultImages();
    qint64 others = 0;
    for (qsizetype i = 1; i < stage.package.images.size(); ++i)
        others += stage.package.images[i].size;
    stage.package.images[0].size = std::max<qint64>(size - others, 1);
    stage.version = QStringLiteral("1.0");
    stage.debugLog = false;
    // The checks are compared, not the channel: TLS costs curl and the client alike.
    stage.https = args.isSet(QStringLiteral("https"));
    stage.serverBytesPerSecond = args.value(QStringLiteral("rate-mib")).toLongLong() * kMiB;
    // The server runs on its own thread so it does not share the client's event loop.
    VHFitRoad road(stage);
    if (!road.prepare() || !road.startServer()) {
        out() << road.lastError() << Qt::endl;
        return 1;
    }
    if (road.tls())
        g_caFile = road.tls()->caFile();
    QFile::remove(road.packagePath());
    const qint64 packageSize = QFileInfo(road.serverRoot() + QStringLiteral("/Bench/Total.zip")).size();
    VHEnv::instance()->init(QStringLiteral("both"), QStringLiteral("bench.log"));
    const QString base = road.serverBase();
    const QString packageUrl = base + QStringLiteral("/packages/Bench/Total.zip");
    // Warm the server's checksum cache so no method pays for it.
    timeCurl(base + QStringLiteral("/versions/index?model=Bench&ver=2.8.0.19"), work + QStringLiteral("/index.json"));

    const qint64 peakBefore = peakResidentBytes();
    const bool peakReset = resetPeakResident();
    const QString folder = road.modelFolder();
    QList<double> curlTimes, checkedCurlTimes, clientTimes, zipCheckTimes, md5Times, signatureTimes, bothTimes;
    for (int round = 0; round < rounds; ++round) {
        curlTimes.append(timeCurl(packageUrl, work + QStringLiteral("/curl.zip")));
        clientTimes.append(timeClient(folder));
        zipCheckTimes.append(timeZipCheck(folder + QStringLiteral("/Total.zip")));
        checkedCurlTimes.append(timeCurlAndChecksum(packageUrl, work + QStringLiteral("/curl.zip")));
        QFile::remove(work + QStringLiteral("/curl.zip"));
        const QString stored = folder + QStringLiteral("/Total.zip");
        md5Times.append(timeMd5(stored));
        signatureTimes.append(timeSignatureCheck(stored));
        bothTimes.append(timeMd5AndSignature(stored));
    }
    const bool signatureStored = QFileInfo::exists(folder + QStringLiteral("/Total.zip.minisig"));
    const qint64 peakDuring = peakResidentBytes();

    if (best(curlTimes) < 0 || best(clientTimes) < 0 || best(checkedCurlTimes) < 0 || best(zipCheckTimes) < 0
        || best(md5Times) < 0 || best(signatureTimes) < 0 || best(bothTimes) < 0 || !signatureStored) {
        out() << "a download failed" << Qt::endl;
        return 1;
    }
    const double mib = double(packageSize) / kMiB;
    const double curlRate = mib / best(curlTimes);
    const double clientRate = mib / best(clientTimes);
    out() << "package: " << packageSize << " bytes, " << rounds << " rounds each" << Qt::endl;
    for (int i = 0; i < rounds; ++i)
        out() << "round " << i + 1 << ": curl " << curlTimes[i] << " s, client " << clientTimes[i]
              << " s, curl + md5sum " << checkedCurlTimes[i] << " s, zip check " << zipCheckTimes[i] * 1000 << " ms"
              << Qt::endl;
    out() << "curl -o:         " << curlRate << " MiB/s (best)" << Qt::endl;
    out() << "VeloraApiClient: " << clientRate << " MiB/s (best), " << 100.0 * clientRate / curlRate << " % of curl"
          << Qt::endl;
    const double checkedRate = mib / best(checkedCurlTimes);
    out() << "curl -o + md5sum: " << checkedRate << " MiB/s (best); the client reaches "
          << 100.0 * clientRate / checkedRate << " % of it" << Qt::endl;
    const double worstCheck = *std::max_element(zipCheckTimes.begin(), zipCheckTimes.end());
    const bool checkOk = worstCheck < kZipCheckShare * best(clientTimes);
    out() << "zip check: " << worstCheck * 1000 << " ms (worst), " << 100.0 * worstCheck / best(clientTimes)
          << " % of the client's best download" << Qt::endl;
    out() << "peak resident before downloads: " << peakBefore / kMiB << " MiB" << Qt::endl;
    out() << "peak resident during downloads: " << peakDuring / kMiB << " MiB"
          << (peakReset ? "" : " (peak could not be reset: includes the set-up)") << Qt::endl;
    const double md5Best = best(md5Times);
    out() << "package on disk: MD5 " << md5Best * 1000 << " ms, signature check (before a write) "
          << best(signatureTimes) * 1000 << " ms = " << best(signatureTimes) / md5Best << " x the MD5, MD5 + signature "
          << "in one pass " << best(bothTimes) * 1000 << " ms = " << best(bothTimes) / md5Best << " x" << Qt::endl;
    const bool signedOk = clientRate >= checkedRate;
    const bool onDiskOk = best(signatureTimes) <= md5Best;
    out() << "signed download " << (signedOk ? "PASS" : "FAIL") << " (>= curl + md5sum), check on disk "
          << (onDiskOk ? "PASS" : "FAIL") << " (signature <= 1.0 x MD5)" << Qt::endl;
    const bool memoryOk = peakDuring < kPeakLimit;
    const bool speedOk = clientRate >= kThroughputGoal * curlRate;
    out() << "memory " << (memoryOk ? "PASS" : "FAIL") << " (< 64 MiB), throughput " << (speedOk ? "PASS" : "FAIL")
          << " (>= 80 % of curl), zip check " << (checkOk ? "PASS" : "FAIL") << " (< 5 % of the download)" << Qt::endl;
    return memoryOk && speedOk && checkOk && signedOk && onDiskOk ? 0 : 3;
}
