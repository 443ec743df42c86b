#pragma once

// Helpers of the util tests: random bytes and a tiny volume, besides the
// common files and log capture.

#include "VHTestFiles.h"
#include "VHTestLog.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>

#include <unistd.h>

inline QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(generator.generate() & 0xFF);
    return data;
}

// A small tmpfs (64 KiB unless told) mounted for the life of the object (root only).
class TinyVolume
{
public:
    explicit TinyVolume(const QString &path, const QString &size = QStringLiteral("64k")) : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = ::geteuid() == 0
                    && QProcess::execute(QStringLiteral("mount"),
                                         {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                          QStringLiteral("size=") + size, QStringLiteral("tmpfs"), path})
                           == 0;
    }
    ~TinyVolume()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_path});
    }
    bool isMounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};
