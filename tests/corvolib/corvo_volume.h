#pragma once

// A device volume in a temporary folder, configured as the library's home the
// way the updater does it ("/" as separator, the root with a trailing one).

#include "VHTestFiles.h"
#include "corvo_builder.h"
#include "corvolib.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class CorvoVolume
{
public:
    CorvoVolume()
    {
        SetPathDirect("/");
        SetHomePath(home().constData());
        SetModelName("Pulsar40");
    }

    bool isValid() const { return dir_.isValid(); }
    QByteArray home() const { return QFile::encodeName(dir_.path()) + "/"; }
    QString path(const QString &relative) const { return dir_.filePath(relative); }
    QByteArray nativePath(const QString &relative) const { return QFile::encodeName(path(relative)); }

    bool write(const QString &relative, const corvotest::Bytes &bytes) const
    {
        return write(relative, QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
    }

    bool write(const QString &relative, const QByteArray &bytes) const { return writeFile(path(relative), bytes); }
    QByteArray read(const QString &relative) const { return readFile(path(relative)); }

    bool exists(const QString &relative) const { return QFileInfo::exists(path(relative)); }
    bool makeFolder(const QString &relative) const { return QDir().mkpath(path(relative)); }

private:
    QTemporaryDir dir_;
};

inline QByteArray toByteArray(const corvotest::Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

inline quint32 le32At(const QByteArray &bytes, qsizetype at)
{
    if (at < 0 || at + 4 > bytes.size())
        return 0xDEADBEEFu;
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 | quint32(quint8(bytes[at + 2])) << 16
           | quint32(quint8(bytes[at + 3])) << 24;
}
