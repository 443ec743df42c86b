#include "VHPackageCheck.h"

#include "VHVersion.h"

namespace VHPackageCheck {

namespace {

// "1.9.00" and "1.10.00" share a form, "2.1.0" and "110" do not: families
// number their software differently, and only numbers of one form compare.
QString formOf(const QString &version)
{
    QString form;
    for (const QChar c : version) {
        if (!c.isDigit())
            form += c;
        else if (!form.endsWith(QLatin1Char('#')))
            form += QLatin1Char('#');
    }
    return form;
}

bool isOlderOfSameForm(const QString &package, const QString &device)
{
    return !package.isEmpty() && !device.isEmpty() && formOf(package) == formOf(device)
           && VHVersion::isOlder(package, device);
}

} // namespace

QString refusal(const Target &target, const VHPackageIdentity &package)
{
    if (!package.model.isEmpty() && !target.model.isEmpty()
        && package.model.compare(target.model, Qt::CaseInsensitive) != 0)
        return QStringLiteral("the package is made for %1, the device is a %2").arg(package.model, target.model);
    if (isOlderOfSameForm(package.version, target.version))
        return QStringLiteral("the package's version %1 is older than the device's %2")
            .arg(package.version, target.version);
    return {};
}

} // namespace VHPackageCheck
