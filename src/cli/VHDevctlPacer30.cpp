// velora-devctl commands of the 1 MiB-family watches: the loader update, and
// the write-back the flash-store commands do for the PSF watches.

#include "VHDevctl.h"

#include "VHPacer30.h"

#include <QFileInfo>
#include <QThread>

VHPacer30 *VHDevctl::pacer30Device()
{
    VHPacer30 *pacer = qobject_cast<VHPacer30 *>(device());
    // For the tests only: the simulated device erases and restarts at once.
    bool ok = false;
    const int waitMs = qEnvironmentVariableIntValue("VELORA_DEVCTL_FLASH_POLL_MS", &ok);
    if (pacer && ok && waitMs >= 0)
        pacer->setWait([waitMs](int) { QThread::msleep(waitMs); });
    return pacer;
}

int VHDevctl::runLoader()
{
    putDevice(device());
    VHPacer30 *pacer = pacer30Device();
    if (!pacer)
        return fail(NothingToDo, QStringLiteral("the device takes no loader package"));
    const QFileInfo file(m_arguments.value(0));
    if (!file.isFile())
        return fail(BadUsage, QStringLiteral("no such package file: ") + file.filePath());
    const QString package = file.absoluteFilePath();
    m_result.insert(QStringLiteral("package"), package);
    // A loader package is compared by its loader's version, not the software's.
    QString model, loader;
    pacer->getModelName(model);
    pacer->getIAPVersion(loader);
    VHPackageIdentity identity = VHPackageIdentity::read(package);
    identity.version = identity.bootLoaderVersion;
    if (const int checked = checkBeforeWriting(package, {model, loader}, identity); checked != Done)
        return checked;
    const int code = runAction(VHClient::ActionUpdateBootLoader, [&] { return pacer->updateBootLoader(package); });
    return finishWrite(code, QStringLiteral("loader written; the device runs it from its next start"));
}

int VHDevctl::runPacer30Finalize(VHPacer30 *pacer)
{
    // The write-back writes what was read and changed: read the device first.
    const int read = runAction(VHClient::ActionReadData, [&] { return pacer->readData(); });
    if (read != Done)
        return read;
    const int code = runAction(VHClient::ActionFinalize, [&] { return pacer->finalize(); });
    if (code == Done && lastActionChangedNothing())
        return upToDate(device()->errorText());
    if (code == Done)
        say(QStringLiteral("store written back"));
    return withRestoreHint(pacer, code);
}
