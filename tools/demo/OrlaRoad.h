#pragma once

#include "OrlaController.h"
#include "VHFitRoad.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <memory>

class OrlaStallMeter;
class QLabel;
class QPixmap;
class QTimer;
class QWidget;
class VHClient;
class VHDevSim;

// The whole road of a job against a simulated device and the local package
// server, pressing the windows' buttons as a user would and saving a picture
// of each step when asked. Used by the demo driver and by the end-to-end test.
//
// Fit: the updater starts without a device, the device is plugged and shown,
// the update is offered, the dialog runs it, the completion window asks to
// release the cable, the device restarts with the new version, and assist
// data and workouts end up on it.
// Gal: a GAL watch that updates by method 2 restarts into its loader in the
// middle of the update; the window follows it back and shows the completion.
// Pacer40: a flash-store watch gets one more language from the server's pack.
class OrlaRoad
{
public:
    enum class Kind { Fit, Gal, Pacer40 };
    // "fit", "gal", "pacer40"; false for any other name.
    static bool kindNamed(const QString &name, Kind *kind);

    struct Options
    {
        Kind road = Kind::Fit;
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

    // The GAL road (OrlaRoadGal.cpp).
    bool plugGalAndOffer();
    bool galUpdateRestartsTheWatch();
    bool galSecondPassCompletes();
    bool galStartsWithTheNewVersion();

    // The Pacer40 road (OrlaRoadPacer40.cpp).
    bool plugPacer40AndOfferLanguages();
    bool chooserTicksTheDevicesLanguages();
    bool oneMoreLanguageTicked();
    bool languageUpdateCompletes();
    // The languages the chooser ticked, and the one the road adds.
    QStringList languagesBefore() const { return m_languagesBefore; }
    static QString addedLanguage() { return QStringLiteral("fra"); }

    // The simulated drives of the GAL and Pacer40 roads, and the GAL versions.
    static QString galName() { return QStringLiteral("GAL21"); }
    static QString pacer40Name() { return QStringLiteral("LINDEN1"); }
    static QString galVersionBefore() { return QStringLiteral("110"); }
    static QString galVersionAfter() { return QStringLiteral("120"); }
    // What the device's last start installed ("OS=120").
    QStringList installed() const { return m_installed; }

    QList<Step> steps() const { return m_steps; }
    // The texts of the message boxes the updater showed (each was closed with OK).
    QStringList messages() const { return m_messages; }
    // What those boxes said, as the controller recorded it: steps check this,
    // never a text, so the road passes in every language.
    QList<OrlaController::Message> messagesShown() const { return m_shown; }
    QString report() const;
    QString lastError() const { return m_error; }

    QString oldVersion() const; // the FIT device's software version before
    QString newVersion() const; // and after the update
    // What the road does to which device, in one line.
    QString plan() const;
    // The device, package and server the road runs on.
    VHFitRoad &stage() { return m_stage; }

    // Nothing runs on the runtime's side: the current device (none counts only
    // without `deviceNeeded`) has no action and no assist data is downloading.
    static bool runtimeIdle(OrlaController *controller, bool deviceNeeded = true);

    // Longest time the GUI thread did not answer its 10 ms ticks, over all steps run.
    qint64 worstEventGapMs() const { return m_worstGapMs; }

private:
    static VHFitRoad::Options stageOptions(const Options &options);
    bool runFitRoad();
    bool runGalRoad();
    bool runPacer40Road();
    // The road's own device beside the stage's FIT one, and its package on the server.
    bool publishRoadPackage();
    bool plugRoadDevice(const std::function<bool(VHDevSim &, const QString &)> &make);
    // Runs the simulated firmware's `work` on a thread of its own while the
    // updater's events go on: the device's work never counts as a GUI stall.
    bool asDevice(const std::function<bool()> &work);
    VHClient *currentDevice() const;
    QString roadDeviceName() const;
    // Stands for the user's pause before plugging again, which the device
    // manager asks of some models after a removal: the road does not wait it out.
    void letTimePass() { m_skippedSeconds += 60; }
    static QLabel *label(QWidget *window, const char *name);
    // A failed step's detail, and its result.
    static bool failWith(QString &detail, const QString &why);
    bool step(const QString &name, const std::function<bool(QString &)> &body);
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = -1);
    // The next picture's file, its folder made; none without a shots folder.
    QString nextShotFile(const QString &name);
    void shoot(const QString &name, QWidget *window);
    void shootWithBox(const QString &name, QWidget *window, QWidget *box);
    void savePicture(const QPixmap &picture, const QString &file);
    // The updater's GUI-thread watchdog, when it runs.
    static OrlaStallMeter *stallMeter();
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
    qint64 m_skippedSeconds = 0;
    QString m_uuidBefore; // the road's device as first plugged
    QStringList m_languagesBefore;
    QStringList m_installed; // what the device's last start installed
    // Last member: its destructor waits for the pictures still being written.
    QThreadPool m_pictureWriter;
};
