#include "VHGalRecovery.h"

#include "VHClient.h"
#include "VHGalPending.h"

#include <QFileInfo>

namespace {
constexpr int kFailed = 4; // the GAL family's general failure code
} // namespace

VHGalRecovery::Plan VHGalRecovery::plan(const QString &uuid, const QString &source, const QString &givenLanguage)
{
    Plan plan;
    plan.source = source;
    plan.restoring = QFileInfo(source).isDir();
    plan.givenLanguage = givenLanguage;
    VHGalPending::Record record;
    const bool remembered = !uuid.isEmpty() && VHGalPending::ofDataFolder().load(uuid, record);
    if (!givenLanguage.isEmpty()) {
        plan.language = givenLanguage;
        plan.languageSource = LanguageSource::Given;
    } else if (remembered) {
        plan.language = record.language;
        plan.languageSource = LanguageSource::Remembered;
    } else {
        plan.language = QStringLiteral("eng");
    }
    plan.profileCarried = remembered && record.profile.has_value();
    return plan;
}

QString VHGalRecovery::interruptedRestore(const QString &uuid)
{
    VHGalPending::Record record;
    return uuid.isEmpty() || !VHGalPending::ofDataFolder().load(uuid, record) ? QString() : record.restoreFolder;
}

VHGalRecovery::Source VHGalRecovery::chooseSource(const QString &uuid, const QString &given)
{
    Source source;
    const QString folder = interruptedRestore(uuid);
    if (!folder.isEmpty()) {
        // The job left waiting is this restore: an update package would not finish it.
        source.path = folder;
        source.resumesRestore = true;
        if (!QFileInfo(folder).isDir())
            source.refusal = Source::Refusal::RestoreGone;
        return source;
    }
    source.path = given;
    const QFileInfo file(given);
    if (given.isEmpty() || !(file.isFile() || file.isDir()))
        source.refusal = Source::Refusal::NoPackage;
    return source;
}

QString VHGalRecovery::sourceName(LanguageSource source)
{
    switch (source) {
    case LanguageSource::Given:
        return QStringLiteral("given");
    case LanguageSource::Remembered:
        return QStringLiteral("remembered");
    case LanguageSource::Default:
        break;
    }
    return QStringLiteral("default");
}

namespace {
int passState(const VHGalRecovery::Plan &plan)
{
    return plan.restoring ? VHClient::STATE_RESTORING : VHClient::STATE_UPDATING;
}
} // namespace

int VHGalRecovery::action(const Plan &plan)
{
    return plan.restoring ? VHClient::ActionRestoreFactory : VHClient::ActionUpdateTotal;
}

VHResult VHGalRecovery::enterPass(VHClient &client, const Plan &plan)
{
    // The device already waits for its flash: the state says which pass it is
    // in, and the package or folder given stands in for the first pass.
    if (!client.setStateWithMatch(VHClient::STATE_READY, passState(plan)))
        return VHResult::failure(kFailed, QStringLiteral("the device is busy"));
    return VHResult::success();
}

bool VHGalRecovery::runPass(VHClient &client, const Plan &plan)
{
    // The device chooses the remembered language itself when none is given.
    if (plan.restoring ? client.restoreFactory(plan.source) : client.updateTotal(plan.source, plan.givenLanguage))
        return true;
    // Refused: the device must not stay in a pass nothing runs.
    (void)client.setStateWithMatch(passState(plan), VHClient::STATE_READY);
    return false;
}

VHResult VHGalRecovery::start(VHClient &client, const Plan &plan)
{
    if (VHResult entered = enterPass(client, plan); !entered)
        return entered;
    if (!runPass(client, plan))
        return VHResult::failure(kFailed, QStringLiteral("the device refused to start the recovery"));
    return VHResult::success();
}
