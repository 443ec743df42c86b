// Which devices reach the main window by the "devicefamilies" setting: with
// "all" a device of every family shows its UUID and version; with "fit" only a
// device named by "/System/device.txt" does. The program runs once per
// setting; VU_DEVICEFAMILIES chooses it (see CMakeLists.txt).

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceManager.h"
#include "VHTestEnv.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

class TestOrlaFamilies : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHDevSim> m_sim;
    QString m_setting;

    QLabel *label(const char *name) const
    {
        return OrlaApp::instance()->controller()->mainWindow()->findChild<QLabel *>(QLatin1String(name));
    }
    static VHClient *current() { return VHDaemon::instance()->deviceManager()->currentDevice(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_setting = qEnvironmentVariable("VU_DEVICEFAMILIES", QStringLiteral("all"));
        const QString xdg = m_work.filePath(QStringLiteral("xdg"));
        const QString simRoot = m_work.filePath(QStringLiteral("sim"));
        qputenv("XDG_DATA_HOME", xdg.toUtf8());
        qputenv("VELORA_SIM_ROOT", simRoot.toUtf8());
        writeTestSettings(xdg, {{QStringLiteral("debug"), QStringLiteral("1")},
                                {QStringLiteral("devicefamilies"), m_setting},
                                {QStringLiteral("updateurl"), QStringLiteral("http://127.0.0.1:9/versions/index")},
                                {QStringLiteral("alpurl"), QStringLiteral("http://127.0.0.1:9")}});
        m_sim = std::make_unique<VHDevSim>(simRoot);
        QVERIFY2(m_sim->createGal(QStringLiteral("BIKE"), VHSimGalIdentity()), qPrintable(m_sim->lastError()));
        QVERIFY2(m_sim->createPacer40(QStringLiteral("WATCH40")), qPrintable(m_sim->lastError()));
        QVERIFY2(m_sim->createFit(QStringLiteral("WATCH"), VHSimFitIdentity()), qPrintable(m_sim->lastError()));
        QCOMPARE(OrlaApp::instance()->init(), 0);
        QCOMPARE(VHDaemon::instance()->deviceManager()->deviceClassFlags(),
                 m_setting == QLatin1String("fit") ? VHDeviceManagerInterface::kIdentifyByDeviceTxt
                                                   : VHDeviceManagerInterface::kIdentifyByEitherFile);
        OrlaApp::instance()->controller()->onDeviceConnected(nullptr);
    }

    // The GAL device first: nothing was removed before it, so its model's
    // pause after a removal does not apply.
    void deviceShowsByTheSetting_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("uuid");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("shownWithFit");
        QTest::newRow("GAL volume") << "BIKE"
                                    << "Pacer21"
                                    << "1207A1B2C3D4E5F6"
                                    << "110" << false;
        QTest::newRow("Pacer40 over SCSI") << "WATCH40"
                                           << "Pacer40"
                                           << "1105A1B2C3D4E5F6"
                                           << "V012" << false;
        QTest::newRow("FIT volume") << "WATCH"
                                    << "Pacer70"
                                    << "2101A1B2C3D4E5F6"
                                    << "1.00.00.1.00.0100.10.100.100" << true;
    }
    void deviceShowsByTheSetting()
    {
        QFETCH(QString, device);
        QFETCH(bool, shownWithFit);
        const bool shown = m_setting != QLatin1String("fit") || shownWithFit;
        QVERIFY(m_sim->plug(device));
        QLabel *uuidLabel = label("uuid_info_label");
        QVERIFY(uuidLabel);
        if (shown) {
            QTRY_VERIFY_WITH_TIMEOUT(current() && uuidLabel->isVisible(), 10000);
            QString model;
            QVERIFY(current()->getModelName(model));
            QTEST(model, "model");
            QTEST(uuidLabel->text(), "uuid");
            QTEST(label("soft_info_label")->toolTip().split(QLatin1Char('\n')).first(), "version");
        } else {
            // Long enough for the detector to have looked at the new drive.
            QTest::qWait(2000);
            QVERIFY(!current());
            QVERIFY(!uuidLabel->isVisible());
        }
        QVERIFY(m_sim->unplug(device));
        QTRY_VERIFY_WITH_TIMEOUT(!current() && !uuidLabel->isVisible(), 10000);
    }
};

int main(int argc, char **argv)
{
    OrlaApp app(argc, argv);
    TestOrlaFamilies test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaFamilies.moc"
