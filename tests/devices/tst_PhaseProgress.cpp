// A whole action of every flash-store and file-system family on the simulator
// reports its phases once each, in order, with counted bytes that climb to
// their totals.

#include "VHDevSim.h"
#include "VHEnv.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer50PackageBuilder.h"
#include "VHScsiFlashClient.h"
#include "VHTestPhases.h"
#include "VHTestSimRuntime.h"
#include "VHTestZip.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
enum class Family { Pacer50, Pacer40, Pacer35, Pulsar30 };
} // namespace

Q_DECLARE_METATYPE(Family)

class TestPhaseProgress : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    VHTestSimRuntime m_runtime;
    int m_count = 0;
    qint64 m_rowsMs = 0;

    VHClient *device() const { return m_runtime.daemon ? m_runtime.daemon->currentDevice() : nullptr; }

    bool plugNew(Family family, const QString &name)
    {
        QTest::qWait(1100); // events closer than a second are taken for one burst
        bool made = false;
        switch (family) {
        case Family::Pacer50:
            made = m_runtime.sim->createPacer50(name, VHSimPacer50Options());
            break;
        case Family::Pacer40:
            made = m_runtime.sim->createPacer40(name);
            break;
        case Family::Pacer35:
        case Family::Pulsar30: {
            VHSimPacer30Options options;
            options.model = family == Family::Pacer35 ? QStringLiteral("Pacer35") : QStringLiteral("Pulsar30");
            made = m_runtime.sim->createPacer30(name, options);
            break;
        }
        }
        if (!made || !m_runtime.sim->plug(name) || !QTest::qWaitFor([this] { return device() != nullptr; }, 5000))
            return false;
        if (auto *flash = qobject_cast<VHScsiFlashClient *>(device()))
            flash->setWait([](int) {}); // the simulated device answers at once
        return true;
    }

    QString package(Family family)
    {
        const QString path = m_work.filePath(QStringLiteral("p%1.zip").arg(++m_count));
        switch (family) {
        case Family::Pacer50: {
            const QString folder = m_work.filePath(QStringLiteral("pkg%1").arg(m_count));
            return VHPacer50PackageBuilder::writePackageFolder(folder, {}) ? folder + QStringLiteral("/Total.zip")
                                                                           : QString();
        }
        case Family::Pacer40:
        case Family::Pacer35:
            return VHPSFLanguagePackBuilder::writePackage(path, {}) ? path : QString();
        case Family::Pulsar30:
            return zipFiles(path, {{"maple.bin", VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("V009"),
                                                                     "MAPLE" + QByteArray(600, 'm'))}});
        }
        return QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        const QString simRoot = m_work.filePath(QStringLiteral("sim"));
        QDir().mkpath(simRoot);
        QVERIFY(m_runtime.start(simRoot, m_work.filePath(QStringLiteral("xdg"))));
        QSettings settings(VHEnv::instance()->settingsPath(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Pacer50CR/deviceinipath"), QStringLiteral("/device.ini"));
        settings.setValue(QStringLiteral("Pacer50CR/apversionpath"), QStringLiteral("/nimbra/version.ini"));
    }

    void cleanupTestCase()
    {
        std::printf("MEASURED phase rows %lld ms\n", m_rowsMs);
        m_runtime.stop();
    }

    void phasesInOrder_data()
    {
        QTest::addColumn<Family>("family");
        QTest::addColumn<QList<int>>("phases");
        const int unpack = int(VHPhase::Unpack), write = int(VHPhase::Write), verify = int(VHPhase::Verify);
        QTest::newRow("Pacer50: image copied and compared") << Family::Pacer50 << QList<int>{unpack, write, verify};
        QTest::newRow("Pacer40: languages flashed and read back") << Family::Pacer40 << QList<int>{write, verify};
        QTest::newRow("Pacer35: languages flashed and read back") << Family::Pacer35 << QList<int>{write, verify};
        QTest::newRow("Pulsar30: image flashed and read back") << Family::Pulsar30 << QList<int>{write, verify};
    }

    void phasesInOrder()
    {
        QFETCH(Family, family);
        QFETCH(QList<int>, phases);
        QElapsedTimer timer;
        timer.start();
        const QString name = QStringLiteral("DEV%1").arg(++m_count);
        QVERIFY(plugNew(family, name));
        const QString file = package(family);
        QVERIFY(!file.isEmpty());
        VHClient *client = device();
        VHTestPhases recorded(client);
        QVERIFY(
            m_runtime.events.run([&] { return client->updateTotal(file, QString()); }, VHClient::ActionUpdateTotal));
        QVERIFY2(!client->errorFlag(), qPrintable(client->errorText()));
        QVERIFY2(recorded.problem().isEmpty(), qPrintable(recorded.problem()));
        QCOMPARE(recorded.phases(), phases);
        QVERIFY(m_runtime.sim->remove(name));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
        m_rowsMs += timer.elapsed();
    }
};

QTEST_GUILESS_MAIN(TestPhaseProgress)
#include "tst_PhaseProgress.moc"
