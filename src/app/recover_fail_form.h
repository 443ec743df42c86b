#pragma once

#include <QWidget>

class OrlaWindowActions;
class QLabel;
class QPushButton;

// Shown after a failed software update: the reason, and "OK" back to the
// main window.
class recover_fail_form : public QWidget
{
    Q_OBJECT

public:
    // The controller is not owned; it owns this window.
    explicit recover_fail_form(OrlaWindowActions *controller);
    ~recover_fail_form() override;

    // 3 (not enough free space on the device) has its own text; every other
    // code gives the general failure text. Under it, the failure's reason in
    // words (when there is one) and where the log is.
    void setReason(int code, const QString &details = QString());
    QString details() const;

public slots:
    void on_backbutton_clicked();

private:
    OrlaWindowActions *m_controller;
    QPushButton *m_okButton = nullptr;
    QLabel *m_msgLabel = nullptr;
    QLabel *m_picLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLabel *m_detailsLabel = nullptr;
};
