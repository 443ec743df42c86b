#pragma once

#include "VHDevSim.h"
#include "VHFitPackageBuilder.h"
#include "VHTestSigning.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;
class VHPackageServer;
class VHTestTls;

// The stage of a FIT software update, below one work folder: the data folder
// (xdg/VeloraHub with vh.ini naming the server), a simulated FIT device
// (unplugged at first), a package whose images the simulated firmware
// installs, and the local package server offering it with two weeks of assist
// data. The server works on a thread of its own: it stands for another
// machine, so its work never counts against the caller's thread.
class VHFitRoad
{
public:
    struct Options
    {
        QString work; // everything lives below this folder
        QString device = QStringLiteral("WATCH");
        VHSimFitIdentity before; // the device as first plugged; its model is the package's
        VHFitPackageBuilder::Options package;
        bool serve = true; // publish the package and assist data; a server can start
        QString version;   // published as; what the installed images report when empty
        QString note = QStringLiteral("Faster fixes");
        QByteArray assistData = QByteArray(20000, 'a'); // "/current_14d.alp"
        bool debugLog = true;                           // the updater logs every step; benchmarks leave it off
        qint64 serverBytesPerSecond = 0;                // paces the server like a link of that speed; 0: no limit
        bool https = true; // the server speaks https with a test certificate, its authority in vh.ini "cafile"
        // The server signs with a key made for the road, and the updater trusts only that key.
        bool signedPackages = true;
    };

    // The usual road: a device on 1.9.00 and a package whose OS 1.10.00 is newer only in natural order, with
    // workouts.
    static Options newerPackage(const QString &work)
    {
        Options options;
        options.work = work;
        options.before.os = QStringLiteral("1.9.00");
        options.package.images = VHFitPackageBuilder::imagesWithVersions(
            QStringLiteral("1.10.00"), QStringLiteral("B1.00"), QStringLiteral("DL0100"), QStringLiteral("NL100"),
            QStringLiteral("TZ100"), QStringLiteral("BT11"));
        options.package.withWorkouts = true;
        return options;
    }

    explicit VHFitRoad(const Options &options);
    ~VHFitRoad();

    // Lays everything out and points XDG_DATA_HOME and VELORA_SIM_ROOT at it;
    // before the runtime's environment starts.
    bool prepare();
    // Listens on a free loopback port and writes the addresses (and, over
    // https, the test authority as "cafile") into vh.ini.
    bool startServer();
    QString lastError() const { return m_error; }

    const Options &options() const { return m_options; }
    QString model() const { return m_options.before.model; }
    QString xdgRoot() const { return m_options.work + QStringLiteral("/xdg"); }
    QString dataFolder() const { return xdgRoot() + QStringLiteral("/VeloraHub"); }
    // Where the updater keeps the model's packages.
    QString modelFolder() const { return dataFolder() + QStringLiteral("/updates/") + model(); }
    QString simRoot() const { return m_options.work + QStringLiteral("/sim"); }
    QString serverRoot() const { return m_options.work + QStringLiteral("/server"); }
    QString packagePath() const { return m_options.work + QStringLiteral("/Total.zip"); }
    QString serverBase() const { return m_serverBase; }
    // The test certificates once an https server started (all of VHTestTls's kinds); null over http.
    const VHTestTls *tls() const { return m_tls.get(); }
    // The road's signing key; null when the road is unsigned.
    const VHTestSigning *signing() const { return m_signing.get(); }

    VHDevSim &sim() { return m_sim; }
    QString volumePath() const { return m_sim.volumePath(m_options.device); }
    bool plug();
    bool unplug();
    // The device made anew as first plugged, unplugged.
    bool recreateDevice();
    // The firmware start of the unplugged device, run on a thread of its own
    // while the caller's events go on; `changes` lists "Kind=Version" installed.
    bool boot(QStringList *changes = nullptr);

    // The identity once the package's images are installed.
    VHSimFitIdentity installedIdentity() const;
    // The software version a FIT device reports for an identity.
    static QString reportedVersion(const VHSimFitIdentity &identity);

    // Requests the server has answered for a path.
    int serverRequestCount(const QString &path) const;

    // Builds a package of `package` below `serverRoot` and publishes it there
    // as the model's `version` with the release note `note`.
    static bool publishPackage(const QString &serverRoot, const VHFitPackageBuilder::Options &package,
                               const QString &version, const QString &note, QString *error);

    // Runs the caller's events until `condition` holds; false when `timeoutMs` passed first.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs);

private:
    bool fail(const QString &message);
    bool publish();
    bool writeSettings();
    bool listenOnServerThread();

    Options m_options;
    VHDevSim m_sim;
    std::unique_ptr<VHTestSigning> m_signing;
    std::unique_ptr<QThread> m_serverThread;
    VHPackageServer *m_server = nullptr; // lives on m_serverThread
    std::unique_ptr<VHTestTls> m_tls;    // the certificates while the road stands
    QString m_serverBase;
    QString m_error;
};
