#pragma once

#include "OrlaController.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThread;
class QTimer;
class QWidget;
class VHDevSim;
class VHPackageServer;

// The whole road of a software update against a simulated FIT device and the
// local package server: the updater starts without a device, the device is
// plugged and shown, the update is offered, the dialog runs it, the
// completion window asks to release the cable, the device restarts with the
// new version, and assist data and workouts end up on it. Used by the demo
// driver and by the end-to-end test; it presses the windows' buttons as a
// user would and saves a picture of each step when asked.
class OrlaRoad
{
public:
    struct Options
    {
        QString work; // everything lives below this folder
        QString model = QStringLiteral("Pacer60F");
        QString device = QStringLiteral("WATCH"); // the simulated drive's name
        qint64 imageBytes = 256 * 1024;           // size of the new OS image
        QString shots;                            // folder for the pictures; none when empty
        int stepTimeoutMs = 60000;
    };

    struct Step
    {
        QString name;
        bool ok = false;
        qint64 ms = 0;
        qint64 worstGapMs = 0; // longest the GUI thread did not answer in this step
        QDateTime worstGapEnd;
        QString detail;
    };

    explicit OrlaRoad(const Options &options);
    ~OrlaRoad();

    // Lays out the data folder (vh.ini naming the server), the simulation root
    // with the device (unplugged), the server root with the package and the
    // assist data, and sets XDG_DATA_HOME and VELORA_SIM_ROOT. Before the
    // application object starts its runtime.
    bool prepare();
    // Starts the server on a free loopback port and writes its addresses into vh.ini.
    bool startServer();

    // The steps, in order; each waits for what the window should show.
    bool runAll(OrlaController *controller);
    bool showsNoDevice();
    bool plugAndOffer();
    bool openDialog();
    bool runUpdate();
    bool restartDevice();
    bool installWorkouts();

    QList<Step> steps() const { return m_steps; }
    // The texts of the message boxes the updater showed (each was closed with OK).
    QStringList messages() const { return m_messages; }
    // What those boxes said, as the controller recorded it: steps check this,
    // never a text, so the road passes in every language.
    QList<OrlaController::Message> messagesShown() const { return m_shown; }
    QString report() const;
    QString lastError() const { return m_error; }

    QString oldVersion() const; // the software version the device reports before
    QString newVersion() const; // and after the update
    QString dataFolder() const;
    QString simRoot() const;
    QString volumePath() const;
    VHDevSim &sim() { return *m_sim; }
    // Requests the server has answered for a path (it runs on a thread of its own).
    int serverRequestCount(const QString &path) const;

    // Longest time the GUI thread did not answer its 10 ms ticks, over all steps run.
    qint64 worstEventGapMs() const { return m_worstGapMs; }

private:
    bool buildPackage(const QString &zipPath);
    bool writeSettings();
    bool step(const QString &name, const std::function<bool(QString &)> &body);
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = -1);
    void shoot(const QString &name, QWidget *window);
    void shootWithBox(const QString &name, QWidget *window, QWidget *box);
    bool deviceIdle() const;
    void closeMessageBox();
    bool click(QWidget *window, const char *button);

    Options m_options;
    OrlaController *m_controller = nullptr;
    std::unique_ptr<VHDevSim> m_sim;
    // The server and the simulated firmware stand for other machines: they
    // work on threads of their own, so their work never counts against the
    // updater's GUI thread.
    std::unique_ptr<QThread> m_serverThread;
    VHPackageServer *m_server = nullptr; // lives on m_serverThread
    QString m_serverBase;
    QList<Step> m_steps;
    // Closes every message box as it appears, so no step can hang on one.
    std::unique_ptr<QTimer> m_boxCloser;
    QStringList m_messages;
    QList<OrlaController::Message> m_shown;
    QString m_boxShotName; // the picture to take of the next box
    QString m_error;
    int m_shotNumber = 0;
    qint64 m_worstGapMs = 0;
};
