#include "VHDevctlChecks.h"

namespace VHDevctlChecks {

Verdict comparePackage(const Device &device, const VHPackageIdentity &package, bool force)
{
    Verdict verdict;
    verdict.reason = VHPackageCheck::refusal(device, package);
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
