#include "VHDevctlChecks.h"

#include "VHVersion.h"

namespace VHDevctlChecks {

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

QString refusal(const Device &device, const VHPackageIdentity &package)
{
    if (!package.model.isEmpty() && !device.model.isEmpty()
        && package.model.compare(device.model, Qt::CaseInsensitive) != 0)
        return QStringLiteral("the package is made for %1, the device is a %2").arg(package.model, device.model);
    if (isOlderOfSameForm(package.version, device.version))
        return QStringLiteral("the package's version %1 is older than the device's %2")
            .arg(package.version, device.version);
    return {};
}

} // namespace

Verdict comparePackage(const Device &device, const VHPackageIdentity &package, bool force)
{
    Verdict verdict;
    verdict.reason = refusal(device, package);
    if (verdict.reason.isEmpty())
        return verdict;
    verdict.allowed = force;
    verdict.forced = force;
    if (!force)
        verdict.reason += QStringLiteral("; use --force to write it anyway");
    return verdict;
}

bool asksBeforeWriting(bool stdinIsTerminal, bool stderrIsTerminal, bool yes)
{
    return stdinIsTerminal && stderrIsTerminal && !yes;
}

QString question(const QString &package, const QString &version, const QString &model, const QString &uuid)
{
    const QString named = version.isEmpty() ? QStringLiteral("unknown version") : version;
    return QStringLiteral("Write %1 (%2) to %3 %4? [y/N] ").arg(package, named, model, uuid);
}

bool isYes(const QString &answer)
{
    const QString word = answer.trimmed().toLower();
    return word == QLatin1String("y") || word == QLatin1String("yes");
}

} // namespace VHDevctlChecks
