// Every action of the flash-store families ends with a result a user can read, through the runtime on the simulator:
// a failure with a family code and its reason in words, a run with nothing to write as an unchanged success, a run
// that writes with its bytes counted through the write and the read-back.

#include "VHDevSim.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer30.h"
#include "VHTestPhases.h"
#include "VHTestSimRuntime.h"
#include "VHTestZip.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

enum class Model { Pacer40, Pacer35, Pulsar30 };
enum class Action { Update, Loader, Finalize };
// How the package of a row is made.
enum class Package { Languages, NoBase, Truncated, ZipSlip, Pulsar30Image, Pulsar35Image, TemporaryLoaderOnly, None };

} // namespace

Q_DECLARE_METATYPE(Model)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Package)

class TestActionResults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QTemporaryDir m_root;
    VHTestSimRuntime m_runtime;
    int m_count = 0;
    qint64 m_rowsMs = 0;

    VHScsiFlashClient *device() const
    {
        return m_runtime.daemon ? qobject_cast<VHScsiFlashClient *>(m_runtime.daemon->currentDevice()) : nullptr;
    }

    // Device events closer than a second to the last one are taken for one burst.
    static void settle() { QTest::qWait(1100); }

    bool plugNew(Model model, const QString &name)
    {
        settle();
        bool made = false;
        if (model == Model::Pacer40) {
            made = m_runtime.sim->createPacer40(name);
        } else {
            VHSimPacer30Options options;
            options.model = model == Model::Pacer35 ? QStringLiteral("Pacer35") : QStringLiteral("Pulsar30");
            made = m_runtime.sim->createPacer30(name, options);
        }
        if (!made || !m_runtime.sim->plug(name) || !QTest::qWaitFor([this] { return device() != nullptr; }, 5000))
            return false;
        device()->setWait([](int) {}); // the simulated device answers at once
        return true;
    }

    QString package(Package kind)
    {
        const QString path = m_root.filePath(QStringLiteral("p%1.zip").arg(++m_count));
        using Broken = VHPSFLanguagePackBuilder::Broken;
        VHPSFLanguagePackBuilder::Options options;
        switch (kind) {
        case Package::Languages:
        case Package::NoBase:
        case Package::Truncated:
        case Package::ZipSlip:
            options.broken = kind == Package::NoBase      ? Broken::NoBase
                             : kind == Package::Truncated ? Broken::Truncated
                             : kind == Package::ZipSlip   ? Broken::ZipSlip
                                                          : Broken::None;
            return VHPSFLanguagePackBuilder::writePackage(path, options) ? path : QString();
        case Package::Pulsar30Image:
        case Package::Pulsar35Image:
            return zipFiles(path, {{kind == Package::Pulsar30Image ? "maple.bin" : "willow.bin",
                                    VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("V009"),
                                                        (kind == Package::Pulsar30Image ? "MAPLE" : "WILLOW")
                                                            + QByteArray(600, 'm'))}});
        case Package::TemporaryLoaderOnly:
            return zipFiles(path, {{"ITemp.bin", QByteArray(3000, 'T')}});
        case Package::None:
            break;
        }
        return path;
    }

    bool run(Action action, const QString &file)
    {
        VHScsiFlashClient *client = device();
        switch (action) {
        case Action::Update:
            return m_runtime.events.run([&] { return client->updateTotal(file, QString()); },
                                        VHClient::ActionUpdateTotal);
        case Action::Loader:
            return m_runtime.events.run([&] { return client->updateBootLoader(file); },
                                        VHClient::ActionUpdateBootLoader);
        case Action::Finalize:
            return m_runtime.events.run([&] { return client->finalize(); }, VHClient::ActionFinalize);
        }
        return false;
    }

private slots:
    void initTestCase() { QVERIFY(m_runtime.start(m_root.path(), m_data.path())); }
    void cleanupTestCase()
    {
        std::printf("MEASURED action result rows %lld ms\n", m_rowsMs);
        m_runtime.stop();
    }

    void results_data()
    {
        QTest::addColumn<Model>("model");
        QTest::addColumn<Action>("action");
        QTest::addColumn<Package>("kind");
        QTest::addColumn<bool>("twice");       // the same action once before, successfully
        QTest::addColumn<bool>("corruptRead"); // the first external-flash read answers with a byte changed
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("words");
        const int bad = VHScsiFlashClient::BadPackage;
        const QString upToDate = QStringLiteral("already up to date");
        const Model p40 = Model::Pacer40, p35 = Model::Pacer35, p30 = Model::Pulsar30;
        // clang-format off
        QTest::newRow("Pacer40: pack without base image") << p40 << Action::Update << Package::NoBase << false << false << false << bad << "no base image";
        QTest::newRow("Pacer40: pack cut short") << p40 << Action::Update << Package::Truncated << false << false << false << bad << "not a whole zip archive";
        QTest::newRow("Pacer40: pack leaving its folder") << p40 << Action::Update << Package::ZipSlip << false << false << false << bad << "not safe";
        QTest::newRow("Pacer40: finalize over a flash that reads two ways") << p40 << Action::Finalize << Package::None << false << true << false << int(VHScsiFlashClient::NoDevice) << "did not read back the same twice";
        QTest::newRow("Pacer40: same languages again") << p40 << Action::Update << Package::Languages << true << false << true << 0 << upToDate;
        QTest::newRow("Pacer35: pack without base image") << p35 << Action::Update << Package::NoBase << false << false << false << bad << "no base image";
        QTest::newRow("Pacer35: same languages again") << p35 << Action::Update << Package::Languages << true << false << true << 0 << upToDate;
        QTest::newRow("Pacer35: finalize with nothing changed") << p35 << Action::Finalize << Package::None << false << false << true << 0 << upToDate;
        QTest::newRow("Pulsar30: another model's image") << p30 << Action::Update << Package::Pulsar35Image << false << false << false << bad << "no .bin image of the Pulsar30";
        QTest::newRow("Pulsar30: loader package without loader") << p30 << Action::Loader << Package::TemporaryLoaderOnly << false << false << false << bad << "no loader";
        QTest::newRow("Pulsar30: same image again") << p30 << Action::Update << Package::Pulsar30Image << true << false << true << 0 << upToDate;
        // clang-format on
    }

    void results()
    {
        QFETCH(Model, model);
        QFETCH(Action, action);
        QFETCH(Package, kind);
        QFETCH(bool, twice);
        QFETCH(bool, corruptRead);
        QFETCH(bool, ok);
        QFETCH(int, code);
        QFETCH(QString, words);
        QElapsedTimer timer;
        timer.start();
        const QString name = QStringLiteral("DEV%1").arg(++m_count);
        QVERIFY(plugNew(model, name));
        const QString file = package(kind);
        QVERIFY(!file.isEmpty());
        if (twice) {
            VHTestPhases phases(device());
            QVERIFY(run(action, file));
            QVERIFY(device()->actionChanged());
            QVERIFY(device()->errorText().isEmpty());
            // What it wrote it counted, block by block, and then read back.
            QVERIFY2(phases.problem().isEmpty(), qPrintable(phases.problem()));
            QVERIFY2(phases.phases() == (QList<int>{int(VHPhase::Write), int(VHPhase::Verify)}),
                     qPrintable(phases.describe()));
        }
        if (corruptRead)
            QVERIFY(m_runtime.sim->setFaults(name, {.corruptReads = 1, .corruptSelector = 16}));
        QSignalSpy ends(device(), &VHClient::actionFinished);
        QCOMPARE(run(action, file), ok);
        QCOMPARE(device()->errorCode(), code);
        QCOMPARE(device()->actionChanged(), !ok);
        QVERIFY2(device()->errorText().contains(words), qPrintable(device()->errorText()));
        // The reason travels with the end of the action.
        QTRY_COMPARE(ends.size(), 1);
        QCOMPARE(ends.first().at(1).toBool(), ok);
        QCOMPARE(ends.first().at(2).toInt(), code);
        QCOMPARE(ends.first().at(3).toString(), device()->errorText());
        QVERIFY(m_runtime.sim->setFaults(name, {}));
        QVERIFY(m_runtime.sim->remove(name));
        QTRY_VERIFY_WITH_TIMEOUT(!device(), 5000);
        m_rowsMs += timer.elapsed();
    }
};

QTEST_GUILESS_MAIN(TestActionResults)
#include "tst_ActionResults.moc"
