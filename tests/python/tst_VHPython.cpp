#include "VHGalPython.h"
#include "VHPython.h"
#include "VHTestFiles.h"
#include "VHTestLog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <functional>

namespace {

// Runs work on a fresh worker thread; false when it did not end in time.
bool onWorker(const std::function<void()> &work)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    return thread->wait(30000);
}

} // namespace

class tst_VHPython : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void callsFromSuccessiveWorkers();
    void failuresGiveFalseAndReleaseTheLock_data();
    void failuresGiveFalseAndReleaseTheLock();
    void faultMarksPythonUnusable();

private:
    QTemporaryDir m_modules;
    QTemporaryDir m_work;
};

void tst_VHPython::initTestCase()
{
    QVERIFY(m_modules.isValid() && m_work.isValid());
    QVERIFY(QFile::copy(QStringLiteral(VH_PYTHON_MODULES "/galapi.py"), m_modules.filePath("galapi.py")));
    const QByteArray raise = "def CreateProfileXml(*a):\n    raise RuntimeError('boom')\n"
                             "CreateProfileIni = ExportBdx = CreateProfileXml\n";
    const QByteArray wrong = "def CreateProfileXml(*a):\n    return 1\n"
                             "def CreateProfileIni(*a):\n    return 'yes'\n"
                             "def ExportBdx(*a):\n    return ['a', 2]\n";
    QVERIFY(writeFile(m_modules.filePath("galapi_raise.py"), raise));
    QVERIFY(writeFile(m_modules.filePath("galapi_wrong.py"), wrong));
    QVERIFY(writeFile(m_modules.filePath("galapi_nofunc.py"), "ExportBdx = 3\n"));
    QVERIFY(writeFile(m_modules.filePath("galapi_import.py"), "raise ImportError('broken')\n"));
    QVERIFY(writeFile(m_modules.filePath("galapi_crash.py"),
                      "import ctypes\ndef CreateProfileXml(*a):\n    return ctypes.string_at(0)\n"));
    QVERIFY(writeFile(m_work.filePath("pfread.ini"), "[Sys]\nlangCode=eng\nunit = 1\n; note\n"));
    VHPython::setModuleFolder(m_modules.path());
    // Nothing starts the interpreter before the first call.
    QVERIFY(!VHPython::isStarted());
}

void tst_VHPython::callsFromSuccessiveWorkers()
{
    LogCapture log;
    const QString ini = m_work.filePath("pfread.ini");
    qint64 firstMs = -1;
    QElapsedTimer later;
    int laterCalls = 0;
    for (int round = 0; round < 2; ++round) {
        bool xml = false, iniOk = false;
        QStringList files;
        const QString out = m_work.filePath(QStringLiteral("out%1").arg(round));
        QVERIFY(QDir().mkpath(out));
        QVERIFY(onWorker([&] {
            QElapsedTimer timer;
            timer.start();
            xml = VHGalPython::createProfileXml(ini, out + "/profile.xml");
            if (firstMs < 0)
                firstMs = timer.elapsed();
            later.start();
            iniOk = VHGalPython::createProfileIni({"Sys-langCode", "unit"}, {"ger", "0"}, out + "/pfwrite.ini");
            files = VHGalPython::exportBdx(out, "GAL", "1.0.0.7 VH2.8.0.99", ini, "/media/x/");
            for (int i = 0; i < 20; ++i)
                (void)VHGalPython::createProfileIni({"a"}, {"b"}, out + "/bench.ini");
            laterCalls = 22;
        }));
        QVERIFY(xml && iniOk);
        QVERIFY(readFile(out + "/profile.xml").contains("key=\"langCode\" value=\"eng\""));
        QCOMPARE(readFile(out + "/pfwrite.ini"), QByteArray("Sys-langCode=ger\nunit=0\n"));
        QCOMPARE(files, QStringList({out + "/export.ini", out + "/profile.xml"}));
        QVERIFY(readFile(out + "/export.ini").contains("Version=1.0.0.7 VH2.8.0.99"));
    }
    const double laterMs = double(later.nsecsElapsed()) / 1e6 / laterCalls;
    // Benchmark figure, printed past the log capture.
    std::printf("first python call %lld ms, later calls %.3f ms each\n", firstMs, laterMs);
    QVERIFY(log.contains("GIL for CreateProfileXml") && log.contains("GIL for CreateProfileIni")
            && log.contains("GIL for ExportBdx"));
    QVERIFY(log.count("acquiring GIL") >= 6);
    QCOMPARE(log.count("acquiring GIL"), log.count("release GIL"));
}

void tst_VHPython::failuresGiveFalseAndReleaseTheLock_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("logged");
    QTest::newRow("missing") << "no_such_module"
                             << "Failed import no_such_module";
    QTest::newRow("import raises") << "galapi_import"
                                   << "Failed import galapi_import";
    QTest::newRow("raises") << "galapi_raise"
                            << "raised: RuntimeError: boom";
    QTest::newRow("wrong type") << "galapi_wrong"
                                << "instead of a bool";
    QTest::newRow("not a function") << "galapi_nofunc"
                                    << "function not found";
}

void tst_VHPython::failuresGiveFalseAndReleaseTheLock()
{
    QFETCH(QString, module);
    QFETCH(QString, logged);
    LogCapture log;
    VHGalPython::setModuleName(module);
    bool xml = true, iniOk = true;
    QStringList files{"x"};
    QVERIFY(onWorker([&] {
        xml = VHGalPython::createProfileXml(m_work.filePath("pfread.ini"), m_work.filePath("f.xml"));
        iniOk = VHGalPython::createProfileIni({"a"}, {"b"}, m_work.filePath("f.ini"));
        files = VHGalPython::exportBdx(m_work.path(), "GAL", "v", "p", "r");
    }));
    VHGalPython::setModuleName(QStringLiteral("galapi"));
    QVERIFY(!xml && !iniOk && files.isEmpty());
    QVERIFY2(log.contains(logged), qPrintable(log.all()));
    QCOMPARE(log.count("acquiring GIL"), 3);
    QCOMPARE(log.count("release GIL"), 3);
    // The lock is free: a good call from the GUI thread goes through.
    QVERIFY(VHGalPython::createProfileIni({"a"}, {"b"}, m_work.filePath("after.ini")));
}

void tst_VHPython::faultMarksPythonUnusable()
{
    LogCapture log;
    VHGalPython::setModuleName(QStringLiteral("galapi_crash"));
    bool xml = true;
    QVERIFY(onWorker([&] { xml = VHGalPython::createProfileXml("a", "b"); }));
    VHGalPython::setModuleName(QStringLiteral("galapi"));
    QVERIFY(!xml);
    QVERIFY(!VHPython::isUsable());
    QVERIFY(log.contains("fault inside python call CreateProfileXml"));
    // Later calls fail at once instead of waiting for the dead frame's lock.
    bool iniOk = true;
    QVERIFY(onWorker([&] { iniOk = VHGalPython::createProfileIni({"a"}, {"b"}, m_work.filePath("late.ini")); }));
    QVERIFY(!iniOk);
    QVERIFY(log.contains("python unusable, not calling CreateProfileIni"));
}

QTEST_GUILESS_MAIN(tst_VHPython)
#include "tst_VHPython.moc"
