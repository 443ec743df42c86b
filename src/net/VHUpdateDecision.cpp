#include "VHUpdateDecision.h"

#include "VHVersion.h"

#include <QDateTime>
#include <QStringList>

namespace VHUpdateDecision {

bool isBetaVersion(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return true;
    return parts.at(3).toInt(nullptr, 10) % 2 != 0;
}

int alpLimit(const QDate &today, int days)
{
    const QDateTime limit(today.addDays(days), QTime(0, 0));
    return int(limit.toSecsSinceEpoch());
}

bool alpNeedsDownload(int expiry) { return expiry < alpLimit(); }

bool offersUpdate(const QString &deviceVersion, const QString &serverVersion)
{
    return VHVersion::isOlder(deviceVersion, serverVersion);
}

} // namespace VHUpdateDecision
