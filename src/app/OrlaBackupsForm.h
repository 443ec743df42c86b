#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// The backups of a flash-store watch's data kept in the data folder, newest
// first with when they were taken and their size; a new one is made, or a
// chosen one written back, through the controller.
class OrlaBackupsForm : public QWidget
{
    Q_OBJECT

public:
    struct Backup
    {
        QString path;
        QDateTime taken;
        qint64 size = 0;
    };

    OrlaBackupsForm();
    ~OrlaBackupsForm() override;

    // Lists `backups` newest first (they may come in any order) and says
    // `message` under them.
    void setBackups(QList<Backup> backups, const QString &message = QString());
    // The one chosen in the list; none (empty path) when nothing is chosen.
    Backup chosen() const;
    void choose(int row);
    // A backup is made or written back: nothing can be pressed meanwhile.
    void setWorking(const QString &what);
    void setProgress(int value);

    // "<date>" as the list and the confirmation name a backup, in the user's local time.
    static QString dateText(const QDateTime &taken);

signals:
    void makeRequested();
    void restoreRequested(const QString &path);
    void closed();

private:
    void buildWidgets();
    void setIdle(bool idle);

    QList<Backup> m_backups; // in list order
    QLabel *m_titleLabel = nullptr;
    QLabel *m_messageLabel = nullptr;
    QListWidget *m_list = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_makeButton = nullptr;
    QPushButton *m_restoreButton = nullptr;
    QPushButton *m_backButton = nullptr;
};
