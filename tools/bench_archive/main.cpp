// Measures unpacking and folder copies against the system's unzip and cp.
//
// One run generates a package of about 200 MiB (large incompressible images
// plus a few thousand small files), then times, several times each,
// VHZipUtil::decompress against "unzip -o -q" and VHUtility::copyFolder
// against "cp -r", and prints the medians, the ratios and the peak resident
// memory of the unpacking. Each unpack runs in a fresh child process so its
// peak memory is its own.
//
//   bench_archive [--runs N] [--work FOLDER] [--images N] [--image-mib N] [--small N]

#include "VHUtility.h"
#include "VHZipUtil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Options
{
    int runs = 5;
    int images = 4;
    int imageMiB = 48;
    int smallFiles = 3000;
    QString work;
};

struct ChildResult
{
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

double cpuSecondsOf(const struct rusage &usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ownCpuSeconds()
{
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return cpuSecondsOf(usage);
}

// xorshift: fast, and its output does not compress.
class Noise
{
public:
    explicit Noise(quint64 seed) : m_state(seed | 1) {}
    void fill(QByteArray &buffer)
    {
        for (qsizetype i = 0; i + 8 <= buffer.size(); i += 8) {
            m_state ^= m_state << 13;
            m_state ^= m_state >> 7;
            m_state ^= m_state << 17;
            std::memcpy(buffer.data() + i, &m_state, 8);
        }
    }

private:
    quint64 m_state;
};

bool writeImage(const QString &path, int mib, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    Noise noise(seed);
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < mib; ++i) {
        noise.fill(chunk);
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

bool writeSmallFile(const QString &path, int index)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray line = "entry " + QByteArray::number(index) + " of the small files of the package\n";
    return file.write(line.repeated(30 + index % 120)) > 0;
}

QStringList generateSource(const QString &root, const Options &options)
{
    QStringList names;
    QDir().mkpath(root + "/images");
    for (int i = 0; i < options.images; ++i) {
        const QString name = QString("images/img%1.bin").arg(i);
        if (writeImage(root + "/" + name, options.imageMiB, 0x9E3779B97F4A7C15ull * (i + 1)))
            names << name;
    }
    for (int i = 0; i < options.smallFiles; ++i) {
        const QString folder = QString("small/d%1").arg(i % 40, 2, 10, QChar('0'));
        QDir().mkpath(root + "/" + folder);
        const QString name = QString("%1/f%2.txt").arg(folder).arg(i, 5, 10, QChar('0'));
        if (writeSmallFile(root + "/" + name, i))
            names << name;
    }
    return names;
}

ChildResult runChild(const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ChildResult result;
    int status = 0;
    struct rusage usage = {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakKiB = usage.ru_maxrss;
    result.cpuSeconds = cpuSecondsOf(usage);
    return result;
}

// Writes back what earlier steps left dirty, so one step's write-back does
// not slow the next one's timing.
void settle(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

bool parseOptions(const QStringList &arguments, Options &options)
{
    for (int i = 1; i < arguments.size(); i += 2) {
        const QString &a = arguments.at(i);
        const QString value = i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        bool ok = true;
        if (a == "--runs")
            options.runs = value.toInt(&ok);
        else if (a == "--work")
            options.work = value;
        else if (a == "--images")
            options.images = value.toInt(&ok);
        else if (a == "--image-mib")
            options.imageMiB = value.toInt(&ok);
        else if (a == "--small")
            options.smallFiles = value.toInt(&ok);
        else
            return false;
        if (!ok || value.isEmpty())
            return false;
    }
    return options.runs > 0;
}

int benchmark(const Options &options)
{
    QTemporaryDir scratch(options.work.isEmpty() ? QDir::tempPath() + "/bench_archive-XXXXXX"
                                                 : options.work + "/bench_archive-XXXXXX");
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot create a work folder\n");
        return 1;
    }
    const QString root = scratch.path();
    const QString source = root + "/source", package = root + "/Total.zip";
    std::printf("generating %d images of %d MiB and %d small files in %s\n", options.images, options.imageMiB,
                options.smallFiles, qPrintable(root));
    const QStringList names = generateSource(source, options);
    QDir::setCurrent(source);
    VHZipUtil zip;
    if (!zip.compress(package, names)) {
        std::fprintf(stderr, "cannot write the package\n");
        return 1;
    }
    QDir::setCurrent(root);
    std::printf("package: %.1f MiB, %lld entries\n", QFileInfo(package).size() / 1048576.0,
                static_cast<long long>(names.size()));

    const QString self = QCoreApplication::applicationFilePath();
    const QString ours = root + "/unpacked-ours", theirs = root + "/unpacked-unzip";
    std::vector<double> unpackOurs, unpackTheirs, copyOurs, copyTheirs;
    std::vector<double> cpuUnpackOurs, cpuUnpackTheirs, cpuCopyOurs, cpuCopyTheirs;
    long peakOurs = 0, peakTheirs = 0;
    for (int run = 0; run < options.runs; ++run) {
        const bool clearedOurs = VHUtility::removeFolder(ours);
        if (!(VHUtility::removeFolder(theirs) && clearedOurs))
            qWarning("can not clear the unpacked folders");
        // Alternate the order so neither side always finds the cache warmer.
        const bool oursFirst = run % 2 == 0;
        ChildResult a, b;
        settle(root);
        if (oursFirst)
            a = runChild({self, "--unpack-child", package, ours});
        settle(root);
        b = runChild({"unzip", "-o", "-q", package, "-d", theirs});
        settle(root);
        if (!oursFirst)
            a = runChild({self, "--unpack-child", package, ours});
        if (!a.ok || !b.ok) {
            std::fprintf(stderr, "unpacking failed (ours %d, unzip %d)\n", a.ok, b.ok);
            return 1;
        }
        unpackOurs.push_back(a.seconds);
        unpackTheirs.push_back(b.seconds);
        cpuUnpackOurs.push_back(a.cpuSeconds);
        cpuUnpackTheirs.push_back(b.cpuSeconds);
        peakOurs = std::max(peakOurs, a.peakKiB);
        peakTheirs = std::max(peakTheirs, b.peakKiB);

        const QString copyA = root + "/copy-ours", copyB = root + "/copy-cp";
        const bool clearedCopyA = VHUtility::removeFolder(copyA);
        if (!(VHUtility::removeFolder(copyB) && clearedCopyA))
            qWarning("can not clear the copied folders");
        QElapsedTimer timer;
        ChildResult cp;
        settle(root);
        if (!oursFirst)
            cp = runChild({"cp", "-r", ours, copyB});
        settle(root);
        const double cpuBefore = ownCpuSeconds();
        timer.start();
        const bool copied = VHUtility::copyFolder(ours, copyA);
        const double seconds = timer.nsecsElapsed() / 1e9;
        cpuCopyOurs.push_back(ownCpuSeconds() - cpuBefore);
        settle(root);
        if (oursFirst)
            cp = runChild({"cp", "-r", ours, copyB});
        if (!copied || !cp.ok) {
            std::fprintf(stderr, "copying failed (ours %d, cp %d)\n", copied, cp.ok);
            return 1;
        }
        copyOurs.push_back(seconds);
        copyTheirs.push_back(cp.seconds);
        cpuCopyTheirs.push_back(cp.cpuSeconds);
        std::printf("run %d: unpack %.3f s / unzip %.3f s, copy %.3f s / cp %.3f s\n", run + 1, a.seconds, b.seconds,
                    seconds, cp.seconds);
    }
    const double unpackRatio = median(unpackOurs) / median(unpackTheirs);
    const double copyRatio = median(copyOurs) / median(copyTheirs);
    std::printf("\nmedian unpack: decompress %.3f s, unzip %.3f s, ratio %.3f (goal <= 1.05)\n", median(unpackOurs),
                median(unpackTheirs), unpackRatio);
    std::printf("median copy:   copyFolder %.3f s, cp -r %.3f s, ratio %.3f (goal <= 1.10)\n", median(copyOurs),
                median(copyTheirs), copyRatio);
    std::printf("median CPU time (user + system): decompress %.3f s, unzip %.3f s; copyFolder %.3f s, cp -r %.3f s\n",
                median(cpuUnpackOurs), median(cpuUnpackTheirs), median(cpuCopyOurs), median(cpuCopyTheirs));
    std::printf("peak memory of unpacking: decompress %.1f MiB (goal < 64), unzip %.1f MiB\n", peakOurs / 1024.0,
                peakTheirs / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments.at(1) == "--unpack-child")
        return VHZipUtil().decompress(arguments.at(2), arguments.at(3)) ? 0 : 1;
    Options options;
    if (!parseOptions(arguments, options)) {
        std::fprintf(stderr, "usage: bench_archive [--runs N] [--work FOLDER] [--images N] [--image-mib N] "
                             "[--small N]\n");
        return 2;
    }
    return benchmark(options);
}
