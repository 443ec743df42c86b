// The data operations of the Pacer50 family: the lists and deletes over the
// device's databases and the log archive. They serve the companion side and
// velora-devctl, never the update road.

#include "VHPacer50.h"

#include "GHDbModel.h"
#include "GHDeviceDatabases.h"
#include "VHEnv.h"
#include "VHFileOps.h"
#include "VHLog.h"
#include "VHUtility.h"
#include "VHVolumeSync.h"
#include "VHZipUtil.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <dirent.h>

namespace {

const QStringList kTrackColumns = {QStringLiteral("idTraceLog"),   QStringLiteral("Title"),
                                   QStringLiteral("StartTime"),    QStringLiteral("EndTime"),
                                   QStringLiteral("ActivityType"), QStringLiteral("TotalLength"),
                                   QStringLiteral("Uploaded")};
const QStringList kRouteColumns = {QStringLiteral("idRoute"),    QStringLiteral("Title"),
                                   QStringLiteral("ActiveType"), QStringLiteral("TotalLength"),
                                   QStringLiteral("StartPlace"), QStringLiteral("EndPlace"),
                                   QStringLiteral("Uploaded")};
const QStringList kPoiColumns = {QStringLiteral("Place"), QStringLiteral("Longitude"), QStringLiteral("Latitude"),
                                 QStringLiteral("Info"),  QStringLiteral("Name"),      QStringLiteral("idMyFavorite")};
const QStringList kWorkoutColumns = {QStringLiteral("id"),    QStringLiteral("wid"),     QStringLiteral("name"),
                                     QStringLiteral("wtype"), QStringLiteral("acttype"), QStringLiteral("datetime")};

// A hostile database may hold any number of rows; the lists stop here.
constexpr int kMaxRows = 100000;

// The log archive: the folders it collects and the limits of what it reads.
const QStringList kLogFolders = {QStringLiteral("DumpFiles"), QStringLiteral("pacer50Log"), QStringLiteral("crashdump"),
                                 QStringLiteral("syslog")};
constexpr qint64 kMaxLogFile = 64 * 1024 * 1024;
constexpr qint64 kMaxLogTotal = 512 * 1024 * 1024;
constexpr int kMaxLogDepth = 8;

class WorkoutRouteDbm : public GHWorkoutModel
{
public:
    QString tableName() const override { return QStringLiteral("WorkoutRoute"); }
};

// Every data operation opens the store on its own thread and leaves no file
// of the device open when it ends.
class DataSession
{
public:
    explicit DataSession(VHPacer50 &device) : m_ready(onWorker() && device.openDataStore()) {}
    ~DataSession() { closeDeviceDatabases(); }
    DataSession(const DataSession &) = delete;
    DataSession &operator=(const DataSession &) = delete;
    bool ready() const { return m_ready; }

private:
    static bool onWorker()
    {
        const QCoreApplication *app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread()) {
            vhWarning() << "database work refused on the GUI thread";
            return false;
        }
        return true;
    }

    GHDbConnectionScope m_scope; // outlives the closing above
    bool m_ready;
};

QList<QVariantList> selectRows(GHDbModel &model, const QStringList &columns, const QString &order)
{
    model.setColumns(columns);
    model.setOrder(order);
    QSqlQuery query = model.select();
    QList<QVariantList> rows;
    while (query.isActive() && query.next()) {
        if (rows.size() >= kMaxRows) {
            vhWarning() << "list cut at" << kMaxRows << "rows of" << model.tableName();
            break;
        }
        QVariantList row;
        for (int i = 0; i < columns.size(); ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

void appendMaps(QVariantList &list, const QList<QVariantList> &rows, const QStringList &columns)
{
    for (const QVariantList &row : rows) {
        QVariantMap map;
        for (int i = 0; i < columns.size(); ++i)
            map.insert(columns.at(i), row.value(i));
        list.append(map);
    }
}

void appendLists(QVariantList &list, const QList<QVariantList> &rows)
{
    for (const QVariantList &row : rows)
        list.append(QVariant(row));
}

// Record ids are whole numbers; anything else (text of any kind) deletes nothing.
bool toIds(const QVariantList &given, QVariantList &ids)
{
    for (const QVariant &value : given) {
        bool ok = false;
        const qlonglong id = value.toLongLong(&ok);
        if (!ok) {
            vhWarning() << "not a record id:" << value.toString().left(64);
            return false;
        }
        ids << id;
    }
    return true;
}

bool removeWhere(GHDbModel &model, const QString &where, const QVariant &value)
{
    model.setWhere(where);
    model.setValues({value});
    return model.remove();
}

// All statements in one transaction: either every record goes or none.
bool inTransaction(const GHDbModel &model, const std::function<bool()> &work)
{
    const QString path = model.databasePath();
    QSqlDatabase db = openDatabase(path, model.connectionName());
    if (path.isEmpty() || !db.isOpen() || !db.transaction()) {
        vhWarning() << "no database for" << model.tableName();
        return false;
    }
    if (work() && db.commit())
        return true;
    db.rollback();
    return false;
}

// The database file reaches the device before the delete counts as done.
bool flushDatabase(const QString &path, const QString &root)
{
    closeDeviceDatabases();
    return VHVolumeSync::flush({path}, root);
}

} // namespace

// ---- lists ------------------------------------------------------------------------------

QString VHPacer50::routeDatabasePath()
{
    QString share;
    if (!getSharePath(share))
        return QString();
    return GHDeviceDatabases::findFile(share, QString(), QString::fromLatin1(GHDeviceDatabases::kRouteDb));
}

void VHPacer50::getTracks(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    TraceLogDbm model;
    appendMaps(list, selectRows(model, kTrackColumns, QStringLiteral("order by StartTime")), kTrackColumns);
}

void VHPacer50::getTracks2(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    TraceLogDbm model;
    appendLists(list, selectRows(model, kTrackColumns, QStringLiteral("order by StartTime")));
}

void VHPacer50::getRoutes(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    RouteDbm model(routeDatabasePath());
    appendMaps(list, selectRows(model, kRouteColumns, QStringLiteral("order by Title")), kRouteColumns);
}

void VHPacer50::getPOIs(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    FavoriteDbm model;
    appendMaps(list, selectRows(model, kPoiColumns, QStringLiteral("order by Name")), kPoiColumns);
}

void VHPacer50::getPOIs2(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    FavoriteDbm model;
    appendLists(list, selectRows(model, kPoiColumns, QStringLiteral("order by Name")));
}

void VHPacer50::getWorkouts(QVariantList &list)
{
    DataSession session(*this);
    if (!session.ready())
        return;
    GHWorkoutModel model;
    appendMaps(list, selectRows(model, kWorkoutColumns, QStringLiteral("order by id")), kWorkoutColumns);
}

// ---- deletes ------------------------------------------------------------------------------

bool VHPacer50::deleteRecords(GHDbModel &model, const QString &idColumn, const QVariantList &given)
{
    QVariantList ids;
    if (!toIds(given, ids))
        return false;
    if (ids.isEmpty())
        return true;
    const bool removed = inTransaction(model, [&] {
        for (const QVariant &id : std::as_const(ids)) {
            if (!removeWhere(model, idColumn + QStringLiteral("=?"), id))
                return false;
        }
        return true;
    });
    return removed && flushDatabase(model.databasePath(), rootPath());
}

bool VHPacer50::deleteTracks(const QVariantList &ids)
{
    DataSession session(*this);
    TraceLogDbm model;
    return session.ready() && deleteRecords(model, QStringLiteral("idTraceLog"), ids);
}

bool VHPacer50::deleteRoutes(const QVariantList &ids)
{
    DataSession session(*this);
    RouteDbm model(routeDatabasePath());
    return session.ready() && deleteRecords(model, QStringLiteral("idRoute"), ids);
}

bool VHPacer50::deletePOIs(const QVariantList &ids)
{
    DataSession session(*this);
    FavoriteDbm model;
    return session.ready() && deleteRecords(model, QStringLiteral("idMyFavorite"), ids);
}

bool VHPacer50::deleteTrack(const QVariant &id) { return deleteTracks({id}); }
bool VHPacer50::deleteRoute(const QVariant &id) { return deleteRoutes({id}); }
bool VHPacer50::deletePOI(const QVariant &id) { return deletePOIs({id}); }

// A workout goes with its intervals and its route, found by its wid.
bool VHPacer50::deleteWorkouts(const QVariantList &given)
{
    DataSession session(*this);
    QVariantList ids;
    if (!session.ready() || !toIds(given, ids))
        return false;
    GHWorkoutModel workouts;
    const bool removed = inTransaction(workouts, [&] {
        for (const QVariant &id : std::as_const(ids)) {
            workouts.setWhere(QStringLiteral("id=?"));
            workouts.setValues({id});
            const QList<QVariantList> rows = selectRows(workouts, {QStringLiteral("wid")}, QString());
            GHWorkoutIntervalModel intervals;
            WorkoutRouteDbm routes;
            for (const QVariantList &row : rows) {
                if (!removeWhere(intervals, QStringLiteral("wid=?"), row.value(0))
                    || !removeWhere(routes, QStringLiteral("wid=?"), row.value(0)))
                    return false;
            }
            if (!removeWhere(workouts, QStringLiteral("id=?"), id))
                return false;
        }
        return true;
    });
    return removed && flushDatabase(workouts.databasePath(), rootPath());
}

// ---- the log archive -------------------------------------------------------------------------

namespace {

struct LogCopy
{
    QString staging;   // local folder the files are copied into
    QStringList names; // entry names, relative to staging
    qint64 total = 0;
};

// Copies the regular files below `folder` (links and other entries skipped,
// files over the cap refused) into staging/relative.
void collectLogs(VHSafeFolder &folder, const QString &relative, int depth, LogCopy &copy)
{
    QList<QPair<QByteArray, unsigned char>> entries;
    if (!VHFileOps::forEachEntry(folder.handle(), [&](const QByteArray &name, unsigned char type) {
            entries.append({name, type});
        }))
        vhWarning() << "log folder not listed whole:" << folder.path();
    for (const auto &[raw, type] : std::as_const(entries)) {
        const QString name = QFile::decodeName(raw);
        const VHSafeFolder::Kind kind = folder.kindOf(name);
        const QString entry = relative + QLatin1Char('/') + name;
        if (kind == VHSafeFolder::Kind::Folder && depth < kMaxLogDepth) {
            VHSafeFolder child = folder.folder(name);
            if (child.isValid())
                collectLogs(child, entry, depth + 1, copy);
            continue;
        }
        QByteArray bytes;
        if (kind != VHSafeFolder::Kind::File || copy.total >= kMaxLogTotal
            || !folder.readFile(name, qMin(kMaxLogFile, kMaxLogTotal - copy.total), bytes)) {
            vhWarning() << "log entry left out:" << folder.path() + QLatin1Char('/') + name;
            continue;
        }
        const QString target = copy.staging + entry;
        if (!QDir().mkpath(QFileInfo(target).absolutePath())
            || !VHSafeFolder::writeFileBelow(copy.staging, target, bytes)) {
            vhWarning() << "log entry not copied:" << entry;
            continue;
        }
        copy.total += bytes.size();
        copy.names << entry.mid(1);
    }
}

} // namespace

void VHPacer50::exportLog(const QString &path) { (void)writeLogArchive(path); }

bool VHPacer50::writeLogArchive(const QString &path)
{
    const QString root = rootPath();
    if (root.isEmpty() || path.isEmpty())
        return false;
    LogCopy copy;
    copy.staging = VHEnv::instance()->tempFolder() + QStringLiteral("/Pacer50LogExport");
    if (!VHUtility::removeFolder(copy.staging) || !QDir().mkpath(copy.staging)) {
        vhWarning() << "can not empty" << copy.staging;
        return false;
    }
    for (const QString &name : kLogFolders) {
        VHSafeFolder folder = VHSafeFolder::open(root, name, VHSafeFolder::FatNames);
        if (folder.isValid())
            collectLogs(folder, QLatin1Char('/') + name, 0, copy);
    }
    vhDebug() << "log archive of" << copy.names.size() << "files," << copy.total << "bytes:" << path;
    VHZipUtil zip;
    if (!zip.compress(path, copy.staging, copy.names)) {
        vhWarning() << "zip file failed:" << path;
        return false;
    }
    return true;
}

// ---- operations without a format of their own ---------------------------------------------------

bool VHPacer50::prepareUploadData(QString &path, bool)
{
    vhWarning() << "prepareUploadData: not supported";
    path.clear();
    return false;
}

bool VHPacer50::setShareData(const QString &)
{
    vhWarning() << "setShareData: not supported";
    return false;
}

QStringList VHPacer50::_exportTrack(const QString &)
{
    vhWarning() << "exportTrack: not supported";
    return {};
}
