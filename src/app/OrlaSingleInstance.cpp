#include "OrlaSingleInstance.h"

#include "VHLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {
const QByteArray kRaiseRequest = "raise\n";
// Local socket paths are limited to about 107 bytes.
constexpr int kMaxSocketPath = 100;
} // namespace

OrlaSingleInstance::OrlaSingleInstance(const QString &dataFolder) : m_dataFolder(dataFolder) {}

OrlaSingleInstance::~OrlaSingleInstance()
{
    if (m_server)
        m_server->close();
}

QString OrlaSingleInstance::lockFilePath() const { return m_dataFolder + QStringLiteral("/veloraupdate.lock"); }

QString OrlaSingleInstance::serverName() const
{
    const QString inFolder = m_dataFolder + QStringLiteral("/veloraupdate.socket");
    if (inFolder.toUtf8().size() <= kMaxSocketPath)
        return inFolder;
    // A deep data folder: a name derived from it, placed by Qt in the temporary folder.
    const QByteArray hash =
        QCryptographicHash::hash(QDir(m_dataFolder).absolutePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("veloraupdate-") + QString::fromLatin1(hash);
}

bool OrlaSingleInstance::acquire()
{
    QDir().mkpath(m_dataFolder);
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    // Only a lock whose process is gone counts as stale, however old it is.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // No lock can be written (a read-only data folder): run, unguarded.
            vhWarning() << "can not write lock file " << lockFilePath();
            return true;
        }
        return false;
    }
    m_server = std::make_unique<QLocalServer>();
    // We hold the lock, so a socket left behind is from a crashed run.
    QLocalServer::removeServer(serverName());
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, &OrlaSingleInstance::onNewConnection);
    if (!m_server->listen(serverName()))
        vhWarning() << "can not listen on " << serverName() << ": " << m_server->errorString();
    return true;
}

bool OrlaSingleInstance::askRunningToRaise(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kRaiseRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void OrlaSingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Only whole requests count; anything else on the socket is ignored.
            while (socket->canReadLine()) {
                if (socket->readLine(64) == kRaiseRequest)
                    emit raiseRequested();
            }
            if (socket->bytesAvailable() > 64)
                socket->abort();
        });
    }
}
