// velora-devctl's data commands: the device's records, deletes, profile,
// log archive and raw-data export. They call the device object's data
// operations, so every family that has them answers through the same commands.

#include "VHClient.h"
#include "VHDevctl.h"
#include "VHPSFDevice.h"
#include "VHProfileReader.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

#include <memory>

namespace {

// The share-data list's slots, by the names the commands take.
int slotOfKind(const QString &kind)
{
    static const QHash<QString, int> kinds = {{QStringLiteral("pois"), 0},
                                              {QStringLiteral("routes"), 1},
                                              {QStringLiteral("tracks"), 2},
                                              {QStringLiteral("activities"), 2},
                                              {QStringLiteral("workouts"), 3}};
    return kinds.value(kind, -1);
}

const QString kKindUsage = QStringLiteral("KIND is one of tracks, activities, routes, pois, workouts");

// The delete operations, by the same slots.
using Deleter = bool (VHClient::*)(const QVariantList &);
constexpr Deleter kDeleters[] = {&VHClient::deletePOIs, &VHClient::deleteRoutes, &VHClient::deleteTracks,
                                 &VHClient::deleteWorkouts};

QString rowText(const QVariant &row)
{
    QStringList parts;
    if (row.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = row.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            parts << it.key() + QLatin1Char('=') + it.value().toString();
        return parts.join(QStringLiteral("  "));
    }
    for (const QVariant &value : row.toList())
        parts << value.toString();
    return parts.join(QLatin1Char('\t'));
}

} // namespace

bool VHDevctl::runOnWorker(const std::function<bool()> &work)
{
    bool result = false;
    std::unique_ptr<QThread> thread(QThread::create([&] { result = work(); }));
    thread->start();
    // The worker owns the device's files until it ends, however long that takes.
    if (!waitUntil([&] { return thread->isFinished(); }, m_timeoutMs))
        thread->wait();
    return result;
}

int VHDevctl::runRecords()
{
    VHClient *client = putDevice(device());
    const QString kind = m_arguments.value(0);
    const int slot = slotOfKind(kind);
    if (slot < 0)
        return fail(BadUsage, kKindUsage);
    const int code = runAction(VHClient::ActionGetShareDataList,
                               [&] { return client->getShareDataList(QString(), QString(), QString()); });
    // A region that could not be read lists nothing: that is no empty list. Its reason replaces the bare code.
    if (VHPSFDevice *psf = flashStoreDevice(); code != Done && psf && !psf->dataFailure().isEmpty()) {
        m_result.remove(QStringLiteral("error"));
        return fail(Failed, psf->dataFailure());
    }
    if (code != Done)
        return code;
    const QVariantList rows = client->shareDataLists().value(slot).toList();
    QJsonArray listed;
    for (const QVariant &row : rows) {
        listed.append(QJsonValue::fromVariant(row));
        say(rowText(row));
    }
    m_result.insert(QStringLiteral("records"), listed);
    if (rows.isEmpty())
        say(QStringLiteral("no %1 on the device").arg(kind));
    return Done;
}

int VHDevctl::runDelete()
{
    VHClient *client = putDevice(device());
    const QString kind = m_arguments.value(0);
    QVariantList ids;
    for (const QString &id : m_arguments.mid(1))
        ids << id;
    const int slot = slotOfKind(kind);
    if (slot < 0)
        return fail(BadUsage, kKindUsage);
    if (client->isBusy())
        return fail(Failed, QStringLiteral("the device is busy"));
    if (!runOnWorker([&] { return (client->*kDeleters[slot])(ids); }))
        return fail(Failed, QStringLiteral("the device did not delete every record asked for"));
    // A flash-store watch keeps the change in memory until its store is written back.
    if (VHPSFDevice *psf = flashStoreDevice()) {
        if (const int code = runAction(VHClient::ActionFinalize, [&] { return psf->finalize(); }); code != Done)
            return code;
    }
    m_result.insert(QStringLiteral("deleted"), QJsonArray::fromVariantList(ids));
    m_changed = true;
    say(QStringLiteral("deleted %1 %2").arg(ids.size()).arg(kind));
    return Done;
}

int VHDevctl::runProfile()
{
    VHClient *client = putDevice(device());
    const QString path = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    const int code = runAction(VHClient::ActionReadProfile, [&] { return client->readProfile(path); });
    if (code != Done)
        return code;
    m_result.insert(QStringLiteral("profile"), path);
    say(QStringLiteral("profile written to ") + path);
    return Done;
}

int VHDevctl::runProfileSet()
{
    VHClient *client = putDevice(device());
    VHProfileMap changes;
    for (const QString &pair : std::as_const(m_arguments)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        // The device takes 8-bit text only.
        const bool latin = QString::fromLatin1(pair.toLatin1()) == pair;
        if (equals <= 0 || !latin || pair.contains(QLatin1Char('\n')) || pair.contains(QLatin1Char('\r')))
            return fail(BadUsage, QStringLiteral("not a KEY=VALUE pair of 8-bit text: ") + pair);
        changes.insert(pair.left(equals).trimmed(), pair.mid(equals + 1).trimmed());
    }
    // Every family takes its profile changes as one settings document.
    const QString document = QString::fromLatin1(VHProfileReaderXML::document(changes));
    if (const int code = runAction(VHClient::ActionWriteProfile, [&] { return client->writeProfile(document); });
        code != Done)
        return code;
    // A flash-store watch takes the values into its store's copy: they reach the device with the write-back.
    if (VHPSFDevice *psf = flashStoreDevice()) {
        if (const int code = runAction(VHClient::ActionFinalize, [&] { return psf->finalize(); }); code != Done)
            return code;
    }
    m_changed = true;
    say(QStringLiteral("profile written to the device"));
    return Done;
}

int VHDevctl::runExportLog()
{
    VHClient *client = putDevice(device());
    const QString path = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    if (QFileInfo(path).isDir())
        return fail(BadUsage, QStringLiteral("FILE is a folder: ") + path);
    // A file left from before would pass for the new archive.
    if (QFileInfo::exists(path) && !QFile::remove(path))
        return fail(Failed, QStringLiteral("can not replace ") + path);
    if (client->isBusy())
        return fail(Failed, QStringLiteral("the device is busy"));
    (void)runOnWorker([&] {
        client->exportLog(path);
        return true;
    });
    if (!QFileInfo(path).isFile())
        return fail(Failed, QStringLiteral("the device wrote no log archive"));
    m_result.insert(QStringLiteral("archive"), path);
    say(QStringLiteral("device logs written to ") + path);
    return Done;
}

int VHDevctl::runExportRaw()
{
    VHClient *client = putDevice(device());
    const QString folder = QFileInfo(m_arguments.value(0)).absoluteFilePath();
    if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir())
        return fail(BadUsage, QStringLiteral("FOLDER is not a folder: ") + folder);
    const int code = runAction(VHClient::ActionExportTrack, [&] { return client->exportTrack(folder); });
    const QStringList files = QVariant(client->resultList()).toStringList();
    m_result.insert(QStringLiteral("files"), QJsonArray::fromStringList(files));
    for (const QString &file : std::as_const(files))
        say(file);
    return code;
}
