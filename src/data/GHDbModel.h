#pragma once

// Table models over the SQLite databases a Pacer50-family device keeps on its
// volume. Qt lets a connection be used only by the thread that opened it and
// every device action runs on a thread of its own, so the connection names
// ("ghddb", "ghpoi", "map_tile_0") are per thread: openDatabase() opens the
// calling thread's connection of that name, and a GHDbConnectionScope at the
// start of each data operation closes and removes them when it ends.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

inline constexpr const char *kGHDeviceDbConnection = "ghddb";
inline constexpr const char *kGHPoiConnection = "ghpoi";
inline constexpr const char *kGHMapTileConnection = "map_tile_0";

// The calling thread's connection `connectionName`, switched to the file
// `path` when it names another one (an empty path closes it).
QSqlDatabase openDatabase(const QString &path, const QString &connectionName);
// Closes every device database file the calling thread has open.
void closeDeviceDatabases();

// Closes and removes the calling thread's connections when the outermost
// scope of the thread ends. Queries on them must be gone by then.
class GHDbConnectionScope
{
public:
    GHDbConnectionScope();
    ~GHDbConnectionScope();
    GHDbConnectionScope(const GHDbConnectionScope &) = delete;
    GHDbConnectionScope &operator=(const GHDbConnectionScope &) = delete;

    // Connections the calling thread holds now, by their given names.
    static QStringList openConnections();
};

// One table of a device database. Values are bound in order to the "?" of
// the statement: the where text takes its values with "?" too, never spliced.
class GHDbModel
{
public:
    virtual ~GHDbModel() = default;

    virtual QString databasePath() const = 0;
    virtual QString connectionName() const { return QString::fromLatin1(kGHDeviceDbConnection); }
    virtual QString tableName() const = 0;

    void setColumns(const QStringList &columns) { m_columns = columns; }
    void setValues(const QVariantList &values) { m_values = values; }
    void setWhere(const QString &where) { m_where = where; }
    void setOrder(const QString &order) { m_order = order; }
    QVariant lastInsertId() const { return m_lastInsertId; }

    // Returned prepared whether or not it ran; unprepared when the file could not be opened.
    QSqlQuery select();
    bool insert();
    bool update();
    bool remove();

    // The statement texts, as executed.
    QString selectText() const;
    QString insertText() const;
    QString updateText() const;
    QString removeText() const;

private:
    bool execute(QSqlQuery &query, const QString &text);
    QSqlDatabase database() const;

    QStringList m_columns;
    QVariantList m_values;
    QString m_where;
    QString m_order;
    QVariant m_lastInsertId;
};

// The share folder's route database: "TraceLog".
class TraceLogDbm : public GHDbModel
{
public:
    QString databasePath() const override;
    QString tableName() const override { return QStringLiteral("TraceLog"); }
};

// "Route" in a database file named at construction.
class RouteDbm : public GHDbModel
{
public:
    explicit RouteDbm(const QString &path) : m_path(path) {}
    QString databasePath() const override { return m_path; }
    QString tableName() const override { return QStringLiteral("Route"); }

private:
    QString m_path;
};

// The share folder's favourites database: "MyFavorite".
class FavoriteDbm : public GHDbModel
{
public:
    QString databasePath() const override;
    QString tableName() const override { return QStringLiteral("MyFavorite"); }
};

// "Workout" in the route database of the device attached now.
class GHWorkoutModel : public GHDbModel
{
public:
    QString databasePath() const override;
    QString tableName() const override { return QStringLiteral("Workout"); }
};

class GHWorkoutIntervalModel : public GHWorkoutModel
{
public:
    QString tableName() const override { return QStringLiteral("WorkoutInterval"); }
};
