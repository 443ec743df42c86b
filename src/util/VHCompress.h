#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QMutex;

// Archive interface of the device runtime. The progress forms write a value
// that another thread reads; every write happens with the caller's mutex held.
class VHCompress : public QObject
{
    Q_OBJECT
public:
    VHCompress() : QObject(nullptr) {}

    [[nodiscard]] virtual bool compress(const QString &zipPath, const QStringList &files, QMutex *mutex,
                                        float *progress)
    {
        return false;
    }
    [[nodiscard]] virtual bool compress(const QString &zipPath, const QStringList &files) = 0;
    [[nodiscard]] virtual bool decompress(const QString &zipPath, const QString &folder, QMutex *mutex, float *progress,
                                          float span)
    {
        return false;
    }
    [[nodiscard]] virtual bool decompress(const QString &zipPath, const QString &folder) = 0;
    // Holds its place in the interface; no archive format offers it.
    virtual bool reserved(const QString &, const QString &) { return false; }
    [[nodiscard]] virtual bool compressFolder(const QString &zipPath, const QString &folderName) { return false; }
};
