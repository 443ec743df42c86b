#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// Keeps one updater per data folder: the first start holds a lock file and
// listens on a local socket; a later start finds the lock taken, asks the
// first one to come to the front and exits.
class OrlaSingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit OrlaSingleInstance(const QString &dataFolder);
    ~OrlaSingleInstance() override;

    // True when this process is the one updater of the folder (and now listens).
    bool acquire();
    // Asks the running updater to raise its window; false when it cannot be reached.
    bool askRunningToRaise(int timeoutMs = 2000);

    QString lockFilePath() const;
    QString serverName() const;

signals:
    void raiseRequested();

private:
    void onNewConnection();

    QString m_dataFolder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
