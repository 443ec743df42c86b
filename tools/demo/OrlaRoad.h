#pragma once

#include "OrlaController.h"
#include "VHFitRoad.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;
class QWidget;

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

    // Lays out the stage and starts its server; before the application object
    // starts its runtime.
    bool prepare();

    // The steps, in order; each waits for what the window should show.
    bool runAll(OrlaController *controller);
    // The controller the single steps below drive (runAll sets it itself).
    void attach(OrlaController *controller) { m_controller = controller; }
    bool showsNoDevice();
    // A drive nobody mounted: the Mount offer stands alone in the empty view.
    bool offersMount();
    bool plugAndOffer();
    bool openDialog();
    bool runUpdate();
    bool restartDevice();
    bool installWorkouts();
    // A damaged package: the failure window with the reason the device gave.
    bool showsFailure();

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
    // The device, package and server the road runs on.
    VHFitRoad &stage() { return m_stage; }

    // Nothing runs on the runtime's side: the current device (none counts only
    // without `deviceNeeded`) has no action and no assist data is downloading.
    static bool runtimeIdle(OrlaController *controller, bool deviceNeeded = true);

    // Longest time the GUI thread did not answer its 10 ms ticks, over all steps run.
    qint64 worstEventGapMs() const { return m_worstGapMs; }

private:
    static VHFitRoad::Options stageOptions(const Options &options);
    bool step(const QString &name, const std::function<bool(QString &)> &body);
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = -1);
    // The next picture's file, its folder made; none without a shots folder.
    QString nextShotFile(const QString &name);
    void shoot(const QString &name, QWidget *window);
    void shootWithBox(const QString &name, QWidget *window, QWidget *box);
    bool deviceIdle() const;
    void closeMessageBox();
    bool click(QWidget *window, const char *button);

    Options m_options;
    VHFitRoad m_stage;
    OrlaController *m_controller = nullptr;
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
