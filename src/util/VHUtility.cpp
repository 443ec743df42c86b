#include "VHUtility.h"

#include "VHLog.h"

#include <QFileInfo>

namespace VHUtility {

namespace {
QString firstExisting(const QString &a, const QString &b)
{
    if (QFileInfo(a).isFile())
        return a;
    if (QFileInfo(b).isFile())
        return b;
    return {};
}
} // namespace

QString findDeviceIni(const QString &root)
{
    return firstExisting(root + QStringLiteral("/device.ini"), root + QStringLiteral("/Device.ini"));
}

QString findDeviceTxt(const QString &root)
{
    return firstExisting(root + QStringLiteral("/System/device.txt"), root + QStringLiteral("/System/Device.txt"));
}

const VHModelInfo *getRegistryDevice(const QByteArray &data, const VHModelTable &models)
{
    vhDebug() << "ba=" << ("\"" + data + "\"");
    const VHModelInfo *match = nullptr;
    for (const VHModelInfo &row : models) {
        vhDebug() << "image signature=" << ("\"" + row.identification + "\"");
        const QByteArray signature = row.identification.toLatin1();
        if (!signature.isEmpty() && data.contains(signature))
            match = &row;
    }
    return match;
}

VHModelTable findModelsByVendor(const VHModelTable &models, const QString &vendor)
{
    VHModelTable rows;
    for (const VHModelInfo &row : models) {
        const QStringList pieces = row.identification.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        for (const QString &piece : pieces) {
            if (vendor.contains(piece, Qt::CaseInsensitive))
                rows.append(row);
        }
    }
    return rows;
}

} // namespace VHUtility
