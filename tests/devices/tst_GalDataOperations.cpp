// The GAL family's data operations against a simulated volume, through the
// device actions: lists with times from the file names, deletes that refuse
// names outside their kind, the profile through the helper module and back,
// the raw-data export, a helper module that is missing, raises or answers
// the wrong type, and the operations this family does not support.

#include "VHCorvoLock.h"
#include "VHDevSim.h"
#include "VHFSDeviceService.h"
#include "VHGalDevice.h"
#include "VHGalPython.h"
#include "VHProfileReader.h"
#include "VHPython.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"
#include "gal_data_builder.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <functional>

namespace {

using GalPtr = std::unique_ptr<VHGalDevice, VHClientDeleter>;
const QString kDevice = QStringLiteral("gal");

QStringList names(const QVariantList &rows)
{
    QStringList out;
    for (const QVariant &row : rows)
        out << row.toMap().value(QStringLiteral("Name")).toString();
    out.sort();
    return out;
}

} // namespace

// Profile changes travel as one settings document.
static QString settings(const QString &key, const QString &value)
{
    return QString::fromLatin1(VHProfileReaderXML::document({{key, value}}));
}

class TestGalDataOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QTemporaryDir m_modules;
    std::unique_ptr<VHDevSim> m_sim;
    int m_count = 0;

    QString volume() const { return m_sim->drivePath(kDevice); }

    GalPtr freshDevice()
    {
        m_sim = std::make_unique<VHDevSim>(m_root.path() + QStringLiteral("/sim%1").arg(++m_count));
        if (!m_sim->createGal(kDevice, VHDevSim::GalIdentity()) || !m_sim->plug(kDevice)
            || !corvotest::writeGalData(volume().toStdString()))
            return {};
        GalPtr device(new VHGalDevice);
        const VHModelInfo row{QStringLiteral("1207"), QStringLiteral("Pacer21"), QStringLiteral("ALDER"), nullptr};
        device->setDeviceService(new VHFSDeviceService(volume(), row, volume() + QStringLiteral("/device.ini")));
        return device;
    }

    // Starts an action and waits for its end; false when it did not start or end.
    static bool runAction(VHClient &device, const std::function<bool()> &start)
    {
        return start() && waitUntilIdle(device, 60000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid() && m_modules.isValid());
        initTestEnv(m_root.path() + QStringLiteral("/xdg"));
        QVERIFY(QFile::copy(QStringLiteral(VH_PYTHON_MODULES "/galapi.py"), m_modules.filePath("galapi.py")));
        QVERIFY(writeFile(m_modules.filePath("galapi_raise.py"),
                          "def CreateProfileXml(*a):\n    raise ValueError('no')\n"
                          "CreateProfileIni = ExportBdx = CreateProfileXml\n"));
        QVERIFY(writeFile(m_modules.filePath("galapi_wrong.py"), "def CreateProfileXml(*a):\n    return 'yes'\n"
                                                                 "CreateProfileIni = CreateProfileXml\n"
                                                                 "def ExportBdx(*a):\n    return 'a'\n"));
        QVERIFY(writeFile(m_modules.filePath("galapi_nofunc.py"), "x = 1\n"));
        VHPython::setModuleFolder(m_modules.path());
    }

    void listsCarryTimesFromNames()
    {
        GalPtr device = freshDevice();
        QVERIFY(device);
        const QVariantList lists = shareDataLists(*device);
        QCOMPARE(lists.size(), 4);
        const QVariantList activities = lists.at(2).toList();
        QCOMPARE(names(activities), QStringList({"230517083015.gal", "230518170000.gal"}));
        for (const QVariant &row : activities) {
            const QDateTime time = row.toMap().value(QStringLiteral("StartTime")).toDateTime();
            QCOMPARE(time.toUTC().toString(QStringLiteral("yyMMddHHmmss")) + QStringLiteral(".gal"),
                     row.toMap().value(QStringLiteral("Name")).toString());
        }
        QCOMPARE(names(lists.at(3).toList()), QStringList({"Intervals.wkt", "Tempo.wkt"}));
        QVERIFY(lists.at(0).toList().isEmpty() && lists.at(1).toList().isEmpty());
        QVERIFY(!VHGalDevice::timeOfFileName(QStringLiteral("Tempo.wkt")).isValid());
    }

    void deletes_data()
    {
        QTest::addColumn<bool>("activities");
        QTest::addColumn<QVariantList>("given");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("left");
        QTest::newRow("one activity") << true << QVariantList{"230517083015.gal"} << true << 1;
        QTest::newRow("both workouts") << false << QVariantList{"Intervals.wkt", "Tempo.wkt"} << true << 0;
        QTest::newRow("missing file") << true << QVariantList{"990101000000.gal"} << false << 2;
        QTest::newRow("path out") << true << QVariantList{"230517083015.gal", "../../../device.ini"} << false << 2;
        QTest::newRow("sql text") << false << QVariantList{"x'; DROP TABLE Workout;--.wkt"} << false << 2;
    }

    void deletes()
    {
        QFETCH(bool, activities);
        QFETCH(QVariantList, given);
        QFETCH(bool, ok);
        QFETCH(int, left);
        GalPtr device = freshDevice();
        QVERIFY(device);
        QCOMPARE(activities ? device->deleteTracks(given) : device->deleteWorkouts(given), ok);
        QVariantList rows;
        activities ? device->getTracks(rows) : device->getWorkouts(rows);
        QCOMPARE(rows.size(), left);
        QVERIFY(QFile::exists(volume() + QStringLiteral("/device.ini")));
    }

    // Each action runs on a new worker thread: the three module functions
    // are called from successive threads.
    void profileRoundTripAndRawExport()
    {
        GalPtr device = freshDevice();
        QVERIFY(device);
        LogCapture log;
        const QString xml = m_root.filePath(QStringLiteral("profile%1.xml").arg(m_count));
        QVERIFY(runAction(*device, [&] { return device->readProfile(xml); }));
        QCOMPARE(device->resultList(), QVariantList{true});
        QVERIFY(readFile(xml).contains("key=\"UP-weight\" value=\"70\""));
        QVERIFY(log.contains("GIL for CreateProfileXml"));

        QVERIFY(runAction(*device, [&] { return device->writeProfile(settings("UP-weight", "72")); }));
        QCOMPARE(device->resultList(), QVariantList{true});
        QVERIFY(log.contains("GIL for CreateProfileIni"));
        QVERIFY(runAction(*device, [&] { return device->readProfile(xml); }));
        QVERIFY(readFile(xml).contains("key=\"UP-weight\" value=\"72\""));

        const QString out = m_root.filePath(QStringLiteral("raw%1").arg(m_count));
        QVERIFY(runAction(*device, [&] { return device->exportTrack(out); }));
        QCOMPARE(device->resultList(), QVariantList({out + "/export.ini", out + "/profile.xml"}));
        QVERIFY(readFile(out + "/export.ini").contains("Version=1.0.0.110 VH2.8.0.99"));
        QVERIFY(log.contains("saveDeviceRawData"));
        QCOMPARE(log.count("acquiring GIL"), log.count("release GIL"));
    }

    void badModulesFail_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("logged");
        QTest::newRow("missing") << "galapi_gone"
                                 << "Failed import galapi_gone";
        QTest::newRow("raises") << "galapi_raise"
                                << "ValueError: no";
        QTest::newRow("wrong type") << "galapi_wrong"
                                    << "instead of a";
        QTest::newRow("no function") << "galapi_nofunc"
                                     << "ExportBdx function not found";
    }

    void badModulesFail()
    {
        QFETCH(QString, module);
        QFETCH(QString, logged);
        GalPtr device = freshDevice();
        QVERIFY(device);
        LogCapture log;
        const QByteArray profileBefore = readFile(volume() + QStringLiteral("/Profile.bin"));
        VHGalPython::setModuleName(module);
        const QString out = m_root.filePath(QStringLiteral("bad%1").arg(m_count));
        QVERIFY(runAction(*device, [&] { return device->readProfile(out + ".xml"); }));
        QCOMPARE(device->resultList(), QVariantList{false});
        QVERIFY(device->errorFlag());
        QVERIFY(runAction(*device, [&] { return device->writeProfile(settings("UP-weight", "1")); }));
        QCOMPARE(device->resultList(), QVariantList{false});
        QVERIFY(runAction(*device, [&] { return device->exportTrack(out); }));
        QVERIFY(device->resultList().isEmpty() && device->errorFlag());
        VHGalPython::setModuleName(QStringLiteral("galapi"));
        QVERIFY2(log.contains(logged), qPrintable(log.all()));
        QCOMPARE(readFile(volume() + QStringLiteral("/Profile.bin")), profileBefore);
        // The lock was given back on every path: the next call goes through.
        QVERIFY(runAction(*device, [&] { return device->readProfile(out + ".xml"); }));
        QCOMPARE(device->resultList(), QVariantList{true});
    }

    void unsupportedNeverSucceed()
    {
        GalPtr device = freshDevice();
        QVERIFY(device);
        LogCapture log;
        QVERIFY(runAction(*device, [&] { return device->makeUploadZip(); }) && device->errorFlag());
        QCOMPARE(device->resultList(), QVariantList{QString()});
        QVERIFY(runAction(*device, [&] { return device->importDownloadZip("share.zip"); }) && device->errorFlag());
        QCOMPARE(log.count("not supported"), 2);
        QVERIFY(runAction(*device, [&] { return device->writeProfile(QStringLiteral("UP-weight=1")); }));
        QCOMPARE(device->resultList(), QVariantList{false});
    }

    // Runs last: the fault leaves the device-log library unusable for the rest of this process.
    void faultInsideTheLibraryRefusesLaterCalls()
    {
        GalPtr device = freshDevice();
        QVERIFY(device);
        LogCapture log;
        bool ran = true;
        std::unique_ptr<QThread> worker(
            QThread::create([&] { ran = vhCorvoRun("a faulting call", [] { std::raise(SIGSEGV); }); }));
        worker->start();
        QVERIFY(worker->wait(20000));
        QVERIFY(!ran);
        QVERIFY(log.contains("fault inside device-log library call a faulting call"));
        // The lock is free; later calls refuse at once and report nothing done.
        QVERIFY(vhCorvoMutex().tryLock());
        vhCorvoMutex().unlock();
        QElapsedTimer timer;
        timer.start();
        QVariantList rows;
        device->getTracks(rows);
        QVERIFY(rows.isEmpty());
        QVERIFY(!device->deleteTracks({"230517083015.gal"}));
        QVERIFY(QFile::exists(volume() + QStringLiteral("/Data/History/GAL/230517083015.gal")));
        QVERIFY(runAction(*device, [&] { return device->readProfile(m_root.filePath(QStringLiteral("late.xml"))); }));
        QCOMPARE(device->resultList(), QVariantList{false});
        QVERIFY(timer.elapsed() < 10000);
        QCOMPARE(log.count("device-log library unusable, not calling"), 3);
    }
};

QTEST_GUILESS_MAIN(TestGalDataOperations)
#include "tst_GalDataOperations.moc"
