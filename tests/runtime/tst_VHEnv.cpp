#include "VHEnv.h"
#include "VHLog.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <vector>

// Each case builds its own environment over a fresh data folder; the message
// handler follows the environment that was initialised last.
class TestVHEnv : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<VHEnv> m_env;

    QString folder() const { return testDataFolder(m_root->path()); }

    void writeSettings(const QList<QPair<QString, QString>> &values, const QString &file = QStringLiteral("vh.ini"))
    {
        writeTestSettings(m_root->path(), values, file);
    }

    VHEnv *start(const QString &mode = QStringLiteral("both"), const QString &log = QStringLiteral("orlaupdate.log"))
    {
        m_env = std::make_unique<VHEnv>();
        m_env->init(mode, log);
        return m_env.get();
    }

    QString readFile(const QString &name)
    {
        if (m_env)
            m_env->flushLog();
        QFile file(folder() + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", m_root->path().toUtf8());
    }
    void cleanup()
    {
        m_env.reset();
        m_root.reset();
    }

    void lineFormatAndDefaultThreshold()
    {
        VHEnv *env = start();
        QCOMPARE(env->dataFolder(), folder());
        qDebug() << "a debug line";
        vhWarning() << "a warning" << 42;
        qCritical("a critical line");
        const QStringList lines =
            readFile(QStringLiteral("orlaupdate.log")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2); // debug lines are dropped at the default level "2"
        static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{3} )"));
        QVERIFY(stamp.match(lines[0]).hasMatch());
        QVERIFY2(
            lines[0].mid(24).startsWith(QStringLiteral("[Warning]\t[ TestVHEnv::lineFormatAndDefaultThreshold ]\t[ ")),
            qPrintable(lines[0]));
        QVERIFY(lines[0].endsWith(QStringLiteral("]\t a warning 42")));
        QVERIFY(lines[1].mid(24) == QStringLiteral("[Critical]\ta critical line"));
    }

    void thresholdFollowsDebugSetting_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<int>("expectedLines");
        QTest::newRow("1 writes everything") << "1" << 3;
        QTest::newRow("2 drops debug") << "2" << 2;
        QTest::newRow("3 only criticals") << "3" << 1;
        QTest::newRow("garbage reads as 0") << "loud" << 3;
    }
    void thresholdFollowsDebugSetting()
    {
        QFETCH(QString, level);
        QFETCH(int, expectedLines);
        writeSettings({{QStringLiteral("debug"), level}});
        start();
        qDebug("d");
        qWarning("w");
        qCritical("c");
        QCOMPARE(readFile(QStringLiteral("orlaupdate.log")).count(QLatin1Char('\n')), expectedLines);
    }

    void rotatesAtExactlyMaxLogSize()
    {
        writeSettings({{QStringLiteral("maxlogsize"), QStringLiteral("100")}});
        auto writeBytes = [&](const QString &name, int n) {
            writeFile(folder() + QLatin1Char('/') + name, QByteArray(n, 'x'));
        };
        // 99 bytes stay, 100 bytes rotate into the old-log file.
        writeBytes(QStringLiteral("vh.log"), 99);
        VHEnv *env = start(QStringLiteral("both"), QString());
        QCOMPARE(QFileInfo(env->logFilePath()).size(), 99);
        m_env.reset();
        writeBytes(QStringLiteral("vh.log"), 100);
        writeBytes(QStringLiteral("vh.old"), 7);
        env = start(QStringLiteral("both"), QString());
        QCOMPARE(QFileInfo(env->oldLogFilePath()).size(), 100);
        QCOMPARE(QFileInfo(env->logFilePath()).size(), 0);
        // A named log is cut without keeping an old copy.
        m_env.reset();
        QFile::remove(folder() + QStringLiteral("/vh.old"));
        writeBytes(QStringLiteral("orlaupdate.log"), 150);
        start();
        QCOMPARE(QFileInfo(folder() + QStringLiteral("/orlaupdate.log")).size(), 0);
        QVERIFY(!QFileInfo::exists(folder() + QStringLiteral("/vh.old")));
    }

    void linesFromSeveralThreadsNeverInterleave()
    {
        writeSettings({{QStringLiteral("debug"), QStringLiteral("1")}});
        start();
        constexpr int threads = 6, perThread = 1500;
        const QString payload(200, QLatin1Char('p'));
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t, &payload] {
                for (int i = 0; i < perThread; ++i)
                    qDebug().noquote() << QStringLiteral("T%1-%2 %3 end").arg(t).arg(i).arg(payload);
            }));
            workers.back()->start();
        }
        for (auto &worker : workers)
            QVERIFY(worker->wait(60000));
        const QStringList lines =
            readFile(QStringLiteral("orlaupdate.log")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), threads * perThread);
        static const QRegularExpression shape(QStringLiteral(R"(^\S+ \S+ \[Debug\]\tT\d-\d+ p{200} end$)"));
        for (const QString &line : lines)
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line.left(120)));
    }

    void garbageSettingsGiveZerosWithoutCrash()
    {
        writeSettings({{QStringLiteral("maxlogsize"), QStringLiteral("lots")},
                       {QStringLiteral("debug"), QStringLiteral("\x01\x02")},
                       {QStringLiteral("tmpdir"), QStringLiteral("a,b")}});
        VHEnv *env = start();
        QCOMPARE(env->maxLogSize(), qint64(0));
        QCOMPARE(env->debugLevel(), 0);
        QCOMPARE(env->tempFolder(), folder() + QStringLiteral("/a,b"));
        qWarning("still logging");
        QVERIFY(readFile(QStringLiteral("orlaupdate.log")).contains(QStringLiteral("still logging")));
    }

    void userModeUsesItsOwnFiles()
    {
        writeSettings({{QStringLiteral("logfilename"), QStringLiteral("other.log")}}, QStringLiteral("vhuser.ini"));
        VHEnv *env = start(QStringLiteral("user"), QString());
        QCOMPARE(env->settingsFileName(), QStringLiteral("vhuser.ini"));
        QCOMPARE(env->logFileName(), QStringLiteral("vhuser.log"));
        qWarning("user line");
        QVERIFY(readFile(QStringLiteral("vhuser.log")).contains(QStringLiteral("user line")));
    }

    void serverAddressesComeFromSettings()
    {
        VHEnv *env = start();
        QVERIFY(env->updateServiceUrl(false).endsWith(QStringLiteral("/versions/index")));
        QVERIFY(env->updateServiceUrl(false) != env->updateServiceUrl(true));
        m_env.reset();
        writeSettings({{QStringLiteral("updateurl"), QStringLiteral("http://127.0.0.1:1/versions/index")},
                       {QStringLiteral("alpurl"), QStringLiteral("https://alp.test")}});
        env = start();
        QCOMPARE(env->updateServiceUrl(false), QStringLiteral("http://127.0.0.1:1/versions/index"));
        QCOMPARE(env->alpServiceUrl(), QStringLiteral("https://alp.test"));
    }

    void deviceFamiliesSetting_data()
    {
        QTest::addColumn<QString>("value"); // null: no key
        QTest::addColumn<bool>("fitOnly");
        QTest::addColumn<bool>("warned");
        QTest::newRow("missing: all") << QString() << false << false;
        QTest::newRow("all") << "all" << false << false;
        QTest::newRow("fit") << "fit" << true << false;
        QTest::newRow("Fit") << "Fit" << true << false;
        QTest::newRow("unknown: all, warned") << "gal" << false << true;
        QTest::newRow("empty: all, warned") << "" << false << true;
    }
    void deviceFamiliesSetting()
    {
        QFETCH(QString, value);
        if (!value.isNull())
            writeSettings({{QStringLiteral("devicefamilies"), value}});
        VHEnv *env = start();
        QFETCH(bool, fitOnly);
        QCOMPARE(env->deviceFamilies() == VHEnv::DeviceFamilies::Fit, fitOnly);
        QTEST(readFile(QStringLiteral("orlaupdate.log")).contains(QStringLiteral("devicefamilies=")), "warned");
    }

    void clearTempFolderRemovesFilesOnly()
    {
        VHEnv *env = start();
        const QString temp = env->tempFolder();
        QFile(temp + QStringLiteral("/a.bin")).open(QIODevice::WriteOnly);
        QDir().mkpath(temp + QStringLiteral("/work"));
        const QString cwd = QDir::currentPath();
        env->clearTempFolder();
        QVERIFY(!QFileInfo::exists(temp + QStringLiteral("/a.bin")));
        QVERIFY(QFileInfo(temp + QStringLiteral("/work")).isDir());
        QCOMPARE(QDir::currentPath(), cwd);
    }

    void updateMinVersionIgnoresMissingInputs()
    {
        VHEnv *env = start();
        const QString package = m_root->path() + QStringLiteral("/release.ini");
        {
            QSettings ini(package, QSettings::IniFormat);
            ini.setValue(QStringLiteral("Update/MinVHVer"), QStringLiteral("2.9.0.1"));
        }
        env->updateMinVersion(QString(), package);
        env->updateMinVersion(QStringLiteral("Pacer60"), m_root->path() + QStringLiteral("/missing.ini"));
        QSettings settings(env->settingsPath(), QSettings::IniFormat);
        QVERIFY(settings.childGroups().isEmpty() || !settings.childGroups().contains(QStringLiteral("Pacer60")));
        env->updateMinVersion(QStringLiteral("Pacer60"), package);
        settings.sync();
        QCOMPARE(settings.value(QStringLiteral("Pacer60/MinVHVer")).toString(), QStringLiteral("2.9.0.1"));
    }

    void aFreshEnvironmentHasItsDefaults()
    {
        VHEnv *env = start();
        QCOMPARE(env->maxLogSize(), qint64(5242880));
        QCOMPARE(env->debugLevel(), 2);
        QCOMPARE(env->uploadFileName(), QStringLiteral("up.zip"));
        QCOMPARE(env->tempFolder(), folder() + QStringLiteral("/tmpdir"));
        QVERIFY(QFileInfo(env->tempFolder()).isDir());
        // Its flags start cleared.
        QVERIFY(env->isInitialised());
        QVERIFY(!env->firmwareTooOld());
        QVERIFY(!env->appTooOld());
        QVERIFY(!env->restorePending());
        QVERIFY(env->isGuiThread());
        bool onWorker = true;
        std::unique_ptr<QThread> worker(QThread::create([&] { onWorker = env->isGuiThread(); }));
        worker->start();
        worker->wait();
        QVERIFY(!onWorker);
    }

    void functionNamesAreClassAndMethod()
    {
        QCOMPARE(VHLog::functionName("bool VHClient::run(int) const"), QByteArray("VHClient::run"));
        QCOMPARE(VHLog::functionName("void VHDeviceImpl<Model, Base>::setDeviceService(VHDeviceService*)"),
                 QByteArray("VHDeviceImpl<Model, Base>::setDeviceService"));
        QCOMPARE(VHLog::functionName("VHEnv* VHEnv::instance()"), QByteArray("VHEnv::instance"));
        QCOMPARE(VHLog::functionName("main"), QByteArray("main"));
    }
};

QTEST_GUILESS_MAIN(TestVHEnv)
#include "tst_VHEnv.moc"
