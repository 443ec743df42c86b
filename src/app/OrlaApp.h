#pragma once

#include "VHUpdateDecision.h"

#include <QApplication>
#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>

class OrlaController;
class OrlaMountOffer;
class OrlaSingleInstance;
class OrlaStallMeter;
class OrlaStopSignals;
class OrlaStrandedWatch;
class QTranslator;
class VHDeviceWatcher;

// The updater's application object: starts the environment and log, loads
// the translation for the system language, starts the device runtime and
// owns the one controller. It owns the platform's device watcher and passes
// its device-change codes on as its own DeviceChange signal, which the
// device detector listens to.
class OrlaApp : public QApplication
{
    Q_OBJECT

public:
    static constexpr const char *appVersion = VHUpdateDecision::kUpdaterVersion;
    // init() result of a second start that handed over to the running updater.
    static constexpr int kHandedToRunningInstance = -1;

    OrlaApp(int &argc, char **argv);
    ~OrlaApp() override;

    // The start-up steps; 0 when the updater runs.
    int init();
    OrlaController *controller() const { return m_controller.get(); }
    // The GUI-thread watchdog, when VELORA_STALL_LOG names its log; else null.
    OrlaStallMeter *stallMeter() const { return m_stallMeter.get(); }
    static OrlaApp *instance();
    // The face the windows are drawn with.
    static QFont windowFont();

    // "vu_<locale, lower case>.qm"
    static QString translationFileName(const QString &localeName);
    // The translation files for the user's interface languages (LANGUAGE,
    // LC_MESSAGES, LANG, as QLocale::uiLanguages gives them), most wanted
    // first: each language as given, then its usual territory for its script,
    // then for the language alone.
    static QStringList translationCandidates(const QStringList &uiLanguages);
    // Replaces the translator by one loaded from path; it is installed
    // whatever the load gives (a failed load leaves the source texts).
    bool installTranslation(const QString &path);

    // Every event of the GUI thread passes the stall meter on its way, when there is one.
    bool notify(QObject *receiver, QEvent *event) override;

signals:
    void DeviceChange(quint32 deviceEvent);

private:
    bool holdsSingleInstance();
    void startDeviceRuntime();
    void endOnTerminationSignals();
    void offerMounting();
    // The watchdog's worst stall into the log and the stall log.
    void reportStalls();

    // First, so it goes last: events still arrive while the rest is torn down.
    std::unique_ptr<OrlaStallMeter> m_stallMeter;
    // Set once before any other thread runs; other threads read only this.
    bool m_metered = false;
    std::unique_ptr<OrlaSingleInstance> m_instanceGuard;
    std::unique_ptr<VHDeviceWatcher> m_watcher;
    std::unique_ptr<OrlaStrandedWatch> m_strandedWatch;
    std::unique_ptr<OrlaController> m_controller;
    std::unique_ptr<OrlaMountOffer> m_mountOffer;
    std::unique_ptr<QTranslator> m_translator;
    std::unique_ptr<OrlaStopSignals> m_stopSignals;
};
