#include "GHDbModel.h"

#include "GHDeviceDatabases.h"
#include "VHLog.h"

#include <QSqlError>

#include <atomic>

namespace {

// Connections of one thread. The token is unique for the life of the process,
// so a name left behind by a thread that ended is never taken for another's.
struct ThreadConnections
{
    ThreadConnections() : token(nextToken()) {}
    // A thread that ended without a scope leaves no connection behind.
    ~ThreadConnections() { removeAll(); }
    ThreadConnections(const ThreadConnections &) = delete;
    ThreadConnections &operator=(const ThreadConnections &) = delete;

    QString nameOf(const QString &given) const { return given + QLatin1Char('@') + QString::number(token); }
    void removeAll()
    {
        for (const QString &given : std::as_const(names)) {
            const QString name = nameOf(given);
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
        names.clear();
    }
    static quint64 nextToken()
    {
        static std::atomic<quint64> counter{0};
        return ++counter;
    }
    quint64 token;
    QStringList names;
    int scopeDepth = 0;
};

ThreadConnections &threadConnections()
{
    thread_local ThreadConnections connections;
    return connections;
}

QString threadConnectionName(const QString &name) { return threadConnections().nameOf(name); }

// A statement waits this long for another process's lock; a device whose
// database is held elsewhere then answers with empty lists instead of stalling
// the action for seconds per statement.
constexpr const char *kConnectOptions = "QSQLITE_BUSY_TIMEOUT=250";

QString valueText(const QVariant &value) { return value.isNull() ? QStringLiteral("NULL") : value.toString(); }

QString placeholders(qsizetype count) { return QStringList(count, QStringLiteral("?")).join(QLatin1Char(',')); }

} // namespace

QSqlDatabase openDatabase(const QString &path, const QString &connectionName)
{
    const QString name = threadConnectionName(connectionName);
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setConnectOptions(QString::fromLatin1(kConnectOptions));
        threadConnections().names << connectionName;
    }
    // A file that could not be opened before (missing, locked) is tried again.
    const bool retry = db.databaseName() == path && !db.isOpen() && !path.isEmpty();
    if (db.databaseName() == path && !retry)
        return db;
    if (db.isOpen())
        db.close();
    db.setDatabaseName(path);
    if (!path.isEmpty() && !db.open())
        vhWarning() << QStringLiteral("opendb %1 Error:%2").arg(path, db.lastError().text());
    return db;
}

// Only connections this thread has: a thread without any (the GUI thread at
// eject) gets none made for it.
void closeDeviceDatabases()
{
    for (const char *name : {kGHMapTileConnection, kGHDeviceDbConnection, kGHPoiConnection}) {
        if (threadConnections().names.contains(QLatin1String(name)))
            openDatabase(QString(), QString::fromLatin1(name));
    }
}

GHDbConnectionScope::GHDbConnectionScope() { ++threadConnections().scopeDepth; }

GHDbConnectionScope::~GHDbConnectionScope()
{
    ThreadConnections &connections = threadConnections();
    if (--connections.scopeDepth == 0)
        connections.removeAll();
}

QStringList GHDbConnectionScope::openConnections()
{
    QStringList open;
    for (const QString &given : std::as_const(threadConnections().names)) {
        if (QSqlDatabase::database(threadConnectionName(given), false).isOpen())
            open << given;
    }
    return open;
}

QString GHDbModel::selectText() const
{
    QString text =
        QStringLiteral("select ") + m_columns.join(QLatin1Char(',')) + QStringLiteral(" from ") + tableName();
    if (!m_where.isEmpty())
        text += QStringLiteral(" where ") + m_where;
    if (!m_order.isEmpty())
        text += QLatin1Char(' ') + m_order;
    return text;
}

QString GHDbModel::insertText() const
{
    return QStringLiteral("insert into ") + tableName() + QStringLiteral(" (") + m_columns.join(QLatin1Char(','))
           + QStringLiteral(") values (") + placeholders(m_values.size()) + QLatin1Char(')');
}

QString GHDbModel::updateText() const
{
    QStringList sets;
    for (const QString &column : m_columns)
        sets << column + QStringLiteral("=?");
    return QStringLiteral("update ") + tableName() + QStringLiteral(" set ") + sets.join(QLatin1Char(','))
           + QStringLiteral(" where ") + m_where;
}

QString GHDbModel::removeText() const
{
    return QStringLiteral("delete from ") + tableName() + QStringLiteral(" where ") + m_where;
}

QSqlDatabase GHDbModel::database() const { return openDatabase(databasePath(), connectionName()); }

bool GHDbModel::execute(QSqlQuery &query, const QString &text)
{
    bool ok = query.prepare(text);
    if (ok) {
        for (const QVariant &value : std::as_const(m_values))
            query.addBindValue(value);
        ok = query.exec();
    }
    if (ok)
        return true;
    vhWarning() << QStringLiteral("SQL:%1\nError:%2").arg(text, query.lastError().text());
    for (qsizetype i = 0; i < m_values.size(); ++i)
        vhWarning() << QStringLiteral("bind col=%1, val=%2").arg(i).arg(valueText(m_values.at(i)));
    return false;
}

QSqlQuery GHDbModel::select()
{
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (db.isOpen())
        (void)execute(query, selectText());
    return query;
}

bool GHDbModel::insert()
{
    if (m_columns.size() != m_values.size()) {
        vhWarning() << QStringLiteral("miss match column and values for sql cmd: %1").arg(insertText());
        return false;
    }
    const QString text = insertText();
    vhDebug() << text;
    QSqlQuery query(database());
    if (!execute(query, text))
        return false;
    m_lastInsertId = query.lastInsertId();
    return true;
}

bool GHDbModel::update()
{
    QSqlQuery query(database());
    return execute(query, updateText());
}

bool GHDbModel::remove()
{
    QSqlQuery query(database());
    return execute(query, removeText());
}

namespace {
QString shareDatabase(const char *relative)
{
    return GHDeviceDatabases::findFile(deviceDatabaseTexts().sharePath, QString(), QString::fromLatin1(relative));
}
} // namespace

QString TraceLogDbm::databasePath() const { return shareDatabase(GHDeviceDatabases::kRouteDb); }

QString FavoriteDbm::databasePath() const { return shareDatabase(GHDeviceDatabases::kFavoriteDb); }

// Looked up at each use: a device attached later has its own route database.
QString GHWorkoutModel::databasePath() const { return shareDatabase(GHDeviceDatabases::kRouteDb); }
