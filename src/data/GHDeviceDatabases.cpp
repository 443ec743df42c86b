#include "GHDeviceDatabases.h"

#include "GHDbModel.h"
#include "VHLog.h"
#include "VHSafeFolder.h"
#include "VHSysCalls.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {

QMutex g_textsMutex;
GHDeviceDbTexts g_texts;

constexpr VHSafeFolder::Options kVolume = VHSafeFolder::FatNames;
// A restored copy is on the device before it takes its name: a cut-off copy
// under the final name would pass for an empty database and hide the backup.
constexpr VHSafeFolder::Options kDataFolder = kVolume | VHSafeFolder::Create | VHSafeFolder::Durable;
// A route script larger than this is not a device's.
constexpr qint64 kScriptCap = 16 * 1024 * 1024;

const char *const kTraceLogAlter = "alter table TraceLog add column pause INTEGER;";
const char *const kWorkoutCreate =
    "CREATE TABLE if not exists Workout (id INTEGER PRIMARY KEY,wid INTEGER NOT NULL,daily INTEGER,repeatcnt "
    "INTEGER,wtype INTEGER,subtype INTEGER,acttype INTEGER,name TEXT,datetime INTEGER);";
const char *const kWorkoutAlters[] = {
    "alter table Workout add column createtime TEXT;", "alter table Workout add column orgid INTEGER;",
    "alter table Workout add column oneshot INTEGER;", "alter table Workout add column desc TEXT;",
    "alter table Workout add column listOrder INTEGER;"};
const char *const kIntervalCreate =
    "CREATE TABLE if not exists WorkoutInterval (wid INTEGER NOT NULL,iid INTEGER NOT NULL,needlap INTEGER,name "
    "TEXT,targettype INTEGER,targetlow INTEGER,targethigh INTEGER,targetishard INTEGER,durtype INTEGER,durvalue "
    "INTEGER,durismanual INTEGER,dursegstart INTEGER,dursegend INTEGER,durlat INTEGER,durlon INTEGER,nextiid "
    "INTEGER,repeatcnt INTEGER,PRIMARY KEY(wid,iid));";
const char *const kIntervalAlter = "alter table WorkoutInterval add column logreso INTEGER;";
const char *const kWorkoutRouteCreate =
    "CREATE TABLE if not exists WorkoutRoute (id INTEGER PRIMARY KEY,wid INTEGER NOT NULL,gpx BLOB);";
const char *const kFavoriteCreate =
    "CREATE TABLE if not exists MyFavorite ( idMyFavorite INTEGER PRIMARY KEY, CategoryID INTEGER NOT NULL DEFAULT "
    "19, Name TEXT NOT NULL, Tel TEXT NULL, Place TEXT NULL, Info TEXT NULL, Longitude INTEGER NOT NULL, Latitude "
    "INTEGER NOT NULL, Country CHAR(3) NULL, RecordTime INTEGER NULL, RoadName TEXT NULL, HouseNumber TEXT NULL, "
    "Uploaded INTEGER NOT NULL DEFAULT 0, XIdx INTEGER NULL, YIdx INTEGER NULL);";
const char *const kFavoriteIndex =
    "CREATE UNIQUE INDEX if not exists FAVINDEX on MyFavorite (Name, Longitude, Latitude);";
// A new favourites database holds one place, so the device's list is never empty.
const char *const kFavoriteDefaultRow =
    "insert into MyFavorite (CategoryID, Name, Longitude, Latitude, Uploaded) values (19, 'Home', 0, 0, 0);";

// SQLite keeps these beside a database and opens them by path: a link there
// would have it write outside the volume.
const char *const kCompanionSuffixes[] = {"-journal", "-wal", "-shm"};

QString latin(const char *text) { return QString::fromLatin1(text); }

void removeCompanionLinks(VHSafeFolder &folder, const QString &name)
{
    for (const char *suffix : kCompanionSuffixes) {
        const QString companion = name + latin(suffix);
        if (folder.kindOf(companion) == VHSafeFolder::Kind::Other && !folder.removeFile(companion))
            vhWarning() << "cannot remove" << folder.filePath(companion);
    }
}

// Opens `name` in the folder as a regular file, never through a link.
VHFileOps::UniqueFd openRegular(VHSafeFolder &folder, const QString &name, int flags)
{
    VHFileOps::UniqueFd fd(VHSys::openat(folder.handle(), VHFileOps::encodeName(folder.entryName(name)).constData(),
                                         flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.isValid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)))
        fd.reset();
    return fd;
}

bool exec(QSqlDatabase &db, const QString &text, bool reportFailure)
{
    QSqlQuery query(db);
    if (query.exec(text))
        return true;
    if (reportFailure)
        vhWarning() << QStringLiteral("SQL:%1\nError:%2").arg(text, query.lastError().text());
    else
        vhDebug() << text << query.lastError().text();
    return false;
}

// A create statement and the alters that follow it when it succeeds; an
// alter fails harmlessly when its column is there already.
void createAndAlter(QSqlDatabase &db, const char *create, std::initializer_list<const char *> alters)
{
    if (!exec(db, latin(create), true))
        return;
    for (const char *alter : alters)
        (void)exec(db, latin(alter), false);
}

void addSchema(QSqlDatabase &db)
{
    const bool inTransaction = db.transaction();
    (void)exec(db, latin(kTraceLogAlter), false);
    createAndAlter(db, kWorkoutCreate,
                   {kWorkoutAlters[0], kWorkoutAlters[1], kWorkoutAlters[2], kWorkoutAlters[3], kWorkoutAlters[4]});
    createAndAlter(db, kIntervalCreate, {kIntervalAlter});
    createAndAlter(db, kWorkoutRouteCreate, {});
    if (inTransaction && !db.commit()) {
        vhWarning() << "commit failed:" << db.databaseName() << db.lastError().text();
        db.rollback();
    }
}

// Copies `backup` to `name` when `name` is missing; false when neither is a file.
bool restoreFromBackup(VHSafeFolder &folder, const QString &name, const QString &backup)
{
    const VHSafeFolder::Kind kind = folder.kindOf(name);
    if (kind == VHSafeFolder::Kind::File)
        return true;
    if (kind != VHSafeFolder::Kind::Missing) {
        vhWarning() << "not a database file:" << folder.filePath(name);
        return false;
    }
    VHFileOps::UniqueFd in = openRegular(folder, backup, O_RDONLY);
    struct stat st;
    if (!in.isValid() || ::fstat(in.get(), &st) != 0)
        return false;
    if (const int error = folder.copyFileInto(name, in.get(), st)) {
        vhWarning() << "restore of" << folder.filePath(name) << "failed:" << strerror(error);
        return false;
    }
    return true;
}

void restore(VHSafeFolder &folder, const char *name, const char *backup, const char *missingLine)
{
    if (!folder.isValid() || !restoreFromBackup(folder, latin(name), latin(backup)))
        vhWarning() << missingLine;
}

// Renames without replacing: a database that appeared meanwhile is kept.
bool placeNew(VHSafeFolder &folder, const QString &from, const QString &to)
{
    const QByteArray source = VHFileOps::encodeName(from);
    const QByteArray target = VHFileOps::encodeName(folder.entryName(to));
    if (VHSys::renameat2(folder.handle(), source.constData(), folder.handle(), target.constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    // File systems without the flag: the name was checked free just before.
    return (errno == EINVAL || errno == ENOSYS)
           && VHSys::renameat(folder.handle(), source.constData(), folder.handle(), target.constData()) == 0;
}

// Runs `statements` into a new database under a name of its own and gives it
// `name` only when all succeeded and `name` is still free: a script that fails
// part way leaves nothing, and an existing database is never replaced.
bool buildDatabase(VHSafeFolder &folder, const QString &name, const QStringList &statements)
{
    const QString building = name + QStringLiteral(".building");
    // What an interrupted build left goes, its journal too.
    for (const QString &leftover : {building, building + latin(kCompanionSuffixes[0])}) {
        if (!folder.removeFile(leftover))
            return false;
    }
    removeCompanionLinks(folder, building);
    bool ok = false;
    {
        GHDbConnectionScope scope;
        QSqlDatabase db = openDatabase(folder.filePath(building), latin(kGHDeviceDbConnection));
        ok = db.isOpen() && db.transaction();
        for (qsizetype i = 0; ok && i < statements.size(); ++i)
            ok = exec(db, statements.at(i), true);
        ok = ok && db.commit();
        if (!ok)
            db.rollback();
        closeDeviceDatabases();
    }
    if (ok && (folder.kindOf(name) != VHSafeFolder::Kind::Missing || !placeNew(folder, building, name))) {
        vhWarning() << "cannot place" << folder.filePath(name) << strerror(errno);
        ok = false;
    }
    if (!ok)
        (void)folder.removeFile(building);
    if (!folder.sync())
        vhWarning() << "cannot flush" << folder.path();
    return ok;
}

// The build runs as one transaction; a dump's own BEGIN and COMMIT would end it early.
QStringList withoutTransactions(const QStringList &statements)
{
    static const QStringList control{QStringLiteral("begin"), QStringLiteral("commit"), QStringLiteral("end"),
                                     QStringLiteral("rollback")};
    QStringList kept;
    for (const QString &statement : statements) {
        const QString first = statement.simplified().section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(';')).toLower();
        if (!control.contains(first))
            kept << statement;
    }
    return kept;
}

void buildRouteDatabase(VHSafeFolder &route)
{
    if (route.kindOf(QStringLiteral("route.dat")) != VHSafeFolder::Kind::Missing)
        return;
    QByteArray script;
    if (!route.readFile(QStringLiteral("route.sql"), kScriptCap, script)) {
        vhWarning() << "can't found any ROUTE sql file" << route.filePath(QStringLiteral("route.sql"));
        return;
    }
    if (!buildDatabase(route, QStringLiteral("route.dat"),
                       withoutTransactions(GHDeviceDatabases::splitScript(QString::fromUtf8(script)))))
        vhWarning() << "route database not built from" << route.filePath(QStringLiteral("route.sql"));
}

void buildFavoriteDatabase(VHSafeFolder &poi)
{
    if (poi.kindOf(QStringLiteral("favorite.dat")) != VHSafeFolder::Kind::Missing)
        return;
    const QStringList statements{latin(kFavoriteCreate), latin(kFavoriteIndex), latin(kFavoriteDefaultRow)};
    if (!buildDatabase(poi, QStringLiteral("favorite.dat"), statements))
        vhWarning() << "favourites database not built in" << poi.path();
}

void setTexts(const GHDeviceDbTexts &texts)
{
    QMutexLocker lock(&g_textsMutex);
    g_texts = texts;
}

} // namespace

GHDeviceDbTexts deviceDatabaseTexts()
{
    QMutexLocker lock(&g_textsMutex);
    return g_texts;
}

void openDeviceDatabases(const QString &sharePath, const QString &traceLogPath, const QString &appVersion)
{
    GHDbConnectionScope scope;
    // Every attach: the texts are those of the device attached now.
    setTexts({sharePath, traceLogPath, appVersion});
    VHSafeFolder poi = VHSafeFolder::open(sharePath, QStringLiteral("data/poi"), kDataFolder);
    VHSafeFolder route = VHSafeFolder::open(sharePath, QStringLiteral("data/route"), kDataFolder);
    if (!poi.isValid() || !route.isValid())
        vhWarning() << "no data folders in" << sharePath
                    << strerror(poi.isValid() ? route.lastError() : poi.lastError());
    if (appVersion.startsWith(QLatin1String("GH2"))) {
        if (route.isValid())
            buildRouteDatabase(route);
        if (poi.isValid())
            buildFavoriteDatabase(poi);
        return;
    }
    restore(poi, "poi.dat", "poi.000", "can't found any POI dat file");
    restore(route, "route.dat", "route.000", "can't found any ROUTE dat file");
    const QString routeDb = GHDeviceDatabases::findFile(sharePath, QString(), latin(GHDeviceDatabases::kRouteDb));
    if (!routeDb.isEmpty()) {
        QSqlDatabase db = openDatabase(routeDb, latin(kGHDeviceDbConnection));
        if (db.isOpen())
            addSchema(db);
    }
    restore(poi, "favorite.dat", "favorite.000", "can't found any FAV dat file");
}

namespace GHDeviceDatabases {

QString findFile(const QString &primary, const QString &secondary, const QString &relative)
{
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    const QString name = relative.mid(slash + 1);
    for (const QString &base : {primary, secondary}) {
        if (base.isEmpty())
            continue;
        VHSafeFolder folder = VHSafeFolder::open(base, relative.left(qMax<qsizetype>(slash, 0)), kVolume);
        VHFileOps::UniqueFd fd = openRegular(folder, name, O_RDONLY);
        struct stat st;
        if (!fd.isValid() || ::fstat(fd.get(), &st) != 0)
            continue;
        if (!(st.st_mode & S_IWUSR) && ::fchmod(fd.get(), st.st_mode | S_IWUSR) != 0)
            vhWarning() << "cannot clear read-only" << folder.filePath(name) << strerror(errno);
        removeCompanionLinks(folder, folder.entryName(name));
        return folder.filePath(name);
    }
    return QString();
}

namespace {

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

// A trigger's body holds semicolons of its own; it ends with END.
bool isComplete(const QString &statement)
{
    const QStringList words = statement.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const bool trigger =
        words.size() > 1 && words.at(0).compare(QLatin1String("create"), Qt::CaseInsensitive) == 0
        && (words.at(1).compare(QLatin1String("trigger"), Qt::CaseInsensitive) == 0
            || (words.size() > 2 && words.at(2).compare(QLatin1String("trigger"), Qt::CaseInsensitive) == 0));
    if (!trigger)
        return true;
    const QString text = statement.trimmed();
    qsizetype start = text.size();
    while (start > 0 && isWordChar(text.at(start - 1)))
        --start;
    return text.mid(start).compare(QLatin1String("end"), Qt::CaseInsensitive) == 0;
}

enum class Lexer { Code, Quoted, LineComment, BlockComment };

} // namespace

QStringList splitScript(const QString &script)
{
    QStringList statements;
    QString current;
    Lexer state = Lexer::Code;
    QChar closing;
    auto finish = [&] {
        const QString statement = current.trimmed();
        if (!statement.isEmpty())
            statements << statement;
        current.clear();
    };
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script.at(i);
        const QChar next = i + 1 < script.size() ? script.at(i + 1) : QChar();
        switch (state) {
        case Lexer::LineComment:
            if (c == QLatin1Char('\n')) {
                state = Lexer::Code;
                current += c;
            }
            continue;
        case Lexer::BlockComment:
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                state = Lexer::Code;
                current += QLatin1Char(' ');
                ++i;
            }
            continue;
        case Lexer::Quoted:
            current += c;
            if (c == closing)
                state = Lexer::Code;
            continue;
        case Lexer::Code:
            break;
        }
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            state = Lexer::LineComment;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            state = Lexer::BlockComment;
            ++i;
        } else if (c == QLatin1Char(';') && isComplete(current)) {
            finish();
        } else {
            if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('[')) {
                state = Lexer::Quoted;
                closing = c == QLatin1Char('[') ? QChar(QLatin1Char(']')) : c;
            }
            current += c;
        }
    }
    finish();
    return statements;
}

} // namespace GHDeviceDatabases
