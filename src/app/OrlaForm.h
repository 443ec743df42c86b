#pragma once

#include "VHClientTypes.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class HoverLabel;
class OrlaWindowActions;
class QFontMetrics;
class QLabel;
class QMenu;
class QMovie;
class QProgressBar;
class QPushButton;

// The main window: the connected device (picture or name, UUID, software
// versions), the buttons of the jobs its family offers, the busy indicator and update notice,
// and a line of text with a progress bar while a job runs. It decides
// nothing: the buttons ask the controller, and the controller drives every
// visible change through the operations below.
class OrlaForm : public QWidget
{
    Q_OBJECT

public:
    // The controller is not owned; it owns this window.
    explicit OrlaForm(OrlaWindowActions *controller, bool beta);
    ~OrlaForm() override;

    void setDevice(const QString &model, const QString &uuid, const QStringList &versions);
    void setGpsUpdating(bool on);
    void setWorkoutInstalling(bool on);
    void setProgress(int value);
    // The step the job is at, in a word under the bar; empty hides it.
    void setPhase(const QString &word);
    void allowWorkouts();
    void showUpdateNotice();
    void showChecking();
    void hideUpdateIndicators();
    // The help label's text: the last recorded action of the connected device.
    void setLastResult(const QString &text);
    QString lastResult() const;
    // The no-device view's offer to mount a volume nobody mounted: its text
    // and the "Mount" button (disabled while a mount runs).
    void showMountOffer(const QString &text, bool canMount);
    void hideMountOffer();
    // A line about the device's state ("Msg_label"); an empty text hides it.
    void showStatusLine(const QString &text);

    bool workoutsAllowed() const { return m_workoutAllowed; }

    // Shows a button only for the jobs named. They fill the three slots in
    // the order of VHJob; with more than three, the third slot holds "More",
    // whose menu lists the rest. Without a device the FIT family's three show.
    void setJobs(VHJobs jobs);
    VHJobs jobs() const { return m_jobs; }
    // The jobs in the "More" menu, in its order; empty when it is hidden.
    QList<VHJob> moreJobs() const { return m_moreJobs; }
    // The window's own buttons and menu entries for a job, for the controller's tests.
    QPushButton *jobButton(VHJob job) const;
    QMenu *moreMenu() const { return m_moreMenu; }
    static constexpr int kJobSlots = 3;

    // One line per entry, each elided in the middle to `width` pixels of
    // `metrics`: a version never breaks over lines at its dots.
    static QString versionsText(const QStringList &versions, const QFontMetrics &metrics, int width);

public slots:
    void onSoftUpdateClicked();
    void onGpsDataClicked();
    void onWorkoutUpdateClicked();
    void onFactoryRestoreClicked();
    void onLanguagesClicked();
    void onBackupsClicked();
    void onRecoverClicked();
    void onAboutLabelEnter();
    void onAboutLabelLeave();

signals:
    void mountClicked();

private:
    void buildWidgets();
    QPushButton *jobButton(const char *objectName, const QRect &geometry);
    void buildFurtherJobButtons();
    static QRect slotGeometry(int slot);
    void startJob(VHJob job);
    void fillMoreMenu();
    static QString jobText(VHJob job);
    void enableJobButtons(bool on);
    void connectSignals();
    void setButtonTexts();
    void showNoDevice();
    void showDevicePicture(const QString &model);
    void showDeviceInfo(const QString &uuid, const QStringList &versions);

    OrlaWindowActions *m_controller;
    bool m_workoutAllowed = false;
    bool m_noDeviceShown = false;

    QLabel *m_deviceTitleLabel = nullptr;
    QLabel *m_remindLabel = nullptr;
    QLabel *m_msgLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_phaseLabel = nullptr;
    QPushButton *m_softUpdateButton = nullptr;
    QPushButton *m_gpsButton = nullptr;
    QPushButton *m_workoutButton = nullptr;
    QPushButton *m_languagesButton = nullptr;
    QPushButton *m_factoryRestoreButton = nullptr;
    QPushButton *m_backupsButton = nullptr;
    QPushButton *m_recoverButton = nullptr;
    QPushButton *m_moreButton = nullptr;
    QMenu *m_moreMenu = nullptr; // child of the window
    VHJobs m_jobs;
    QList<VHJob> m_moreJobs;
    QLabel *m_deviceLabel = nullptr;
    QLabel *m_uuidWordLabel = nullptr;
    QLabel *m_softWordLabel = nullptr;
    QLabel *m_uuidInfoLabel = nullptr;
    QLabel *m_softInfoLabel = nullptr;
    QLabel *m_downloadIndicator = nullptr;
    QMovie *m_waitMovie = nullptr; // child of the indicator
    QLabel *m_downloadCountLabel = nullptr;
    QLabel *m_deviceTitleText = nullptr;
    HoverLabel *m_aboutLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
    QLabel *m_mountLabel = nullptr;
    QPushButton *m_mountButton = nullptr;
};
