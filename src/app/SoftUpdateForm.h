#pragma once

#include <QWidget>

class HoverLabel;
class OrlaWindowActions;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// The software-update dialog: which version the device has and which it will
// get, the warnings, and the button that starts the update. Two states:
// offering (after setData) and updating (after "Update").
class SoftUpdateForm : public QWidget
{
    Q_OBJECT

public:
    // The controller is not owned; it owns this window.
    explicit SoftUpdateForm(OrlaWindowActions *controller);
    ~SoftUpdateForm() override;

    // extraText is not shown (the controller passes an empty text).
    void setData(const QString &newVersion, const QString &currentVersion, const QString &extraText);
    void setProgress(int value);
    // The step the update is at, in a word under the bar; empty hides it.
    void setPhase(const QString &word);
    // While the update runs: what the device does now, in place of the warning.
    void showWaitText(const QString &text);

public slots:
    void onCancelclicked();
    void onUpdateclicked();
    void onMouseEnter();
    void onMouseLeave();

private:
    void buildWidgets();
    QPushButton *dialogButton(const char *objectName, const QRect &geometry, const char *text);

    OrlaWindowActions *m_controller;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_warningLabel = nullptr;
    QLabel *m_remindLabel = nullptr;
    QLabel *m_msgLabel = nullptr;
    HoverLabel *m_infoLabel = nullptr;
    QPushButton *m_updateButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QListWidget *m_list = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_phaseLabel = nullptr;
    QLabel *m_noteLabel = nullptr; // made on the first hover
};
