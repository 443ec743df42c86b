#include "VHUpdatesFolder.h"

#include "VHUtility.h"

#include <QFile>
#include <QTextStream>
#include <QtEndian>

QByteArray VHDateStamp::toBytes(qint32 seconds)
{
    QByteArray bytes(kSize, Qt::Uninitialized);
    qToBigEndian(seconds, bytes.data());
    return bytes;
}

bool VHDateStamp::fromBytes(const QByteArray &bytes, qint32 &seconds)
{
    if (bytes.size() != kSize)
        return false;
    seconds = qFromBigEndian<qint32>(bytes.constData());
    return true;
}

QString VHUpdatesFolder::pathFor(const QString &dataFolder, const QString &model)
{
    if (!VHUtility::isSafePathComponent(model))
        return QString();
    return dataFolder + QStringLiteral("/updates/") + model;
}

VHUpdatesFolder VHUpdatesFolder::at(const QString &path)
{
    VHUpdatesFolder folder;
    folder.m_path = path;
    return folder;
}

qint32 VHUpdatesFolder::alpExpiry() const
{
    if (!isValid())
        return 0;
    QFile file(this->file(kAlpStamp));
    // A file of another size is not a stamp: never read more than one.
    if (!file.open(QIODevice::ReadOnly) || file.size() != VHDateStamp::kSize)
        return 0;
    qint32 seconds = 0;
    VHDateStamp::fromBytes(file.read(VHDateStamp::kSize), seconds);
    return seconds;
}

QString VHUpdatesFolder::readText(const QString &name) const
{
    if (!isValid())
        return QString();
    QFile file(this->file(name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QString text = QTextStream(&file).readAll();
    if (text.isNull())
        text = QLatin1String("");
    return text;
}
