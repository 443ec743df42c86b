#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

// One device action that ran: an update, a factory restore, assist data or
// workouts. Stored as one JSON object per line.
struct VHHistoryEntry
{
    QDateTime time; // when it started, UTC
    QString action; // "update", "recover", "restore", "gps", "workouts"
    QString model;
    QString uuid;
    QString versionBefore;
    QString versionAfter;   // what the device reports once the action is over
    QString versionPackage; // what the package says it carries; empty when it names none
    QString packageMd5;     // lower-case hexadecimal; empty when no package file was used
    QString trustedComment; // of the package's signature, when a trusted key vouched for it
    bool ok = false;
    int errorCode = 0;
    QString reason; // why it failed, or why nothing was written; empty otherwise
    qint64 durationMs = 0;
    QString program; // which program ran it

    QJsonObject toJson() const;
    // False for an object that is not an entry (no time, no action, wrong types).
    static bool fromJson(const QJsonObject &object, VHHistoryEntry &entry);
};

// The update history "history.jsonl" in the data folder. Every writer appends
// one whole line with a single write on a file opened for appending, so lines
// of several programs never interleave; above kRotateSize the file becomes
// "history.1.jsonl" (replacing the older one). Readers skip lines that are not
// entries, read at most kMaxReadSize from the end of each file, and never
// rewrite what they read.
class VHHistory
{
public:
    static inline const QString kFileName = QStringLiteral("history.jsonl");
    static inline const QString kRotatedName = QStringLiteral("history.1.jsonl");
    static constexpr qint64 kRotateSize = 1024 * 1024;
    static constexpr qint64 kMaxReadSize = 2 * 1024 * 1024;
    static constexpr qsizetype kMaxLineSize = 16 * 1024;

    explicit VHHistory(const QString &folder) : m_folder(folder) {}

    // The history of the runtime's data folder.
    static VHHistory ofDataFolder();

    QString path() const { return m_folder + QLatin1Char('/') + kFileName; }
    QString rotatedPath() const { return m_folder + QLatin1Char('/') + kRotatedName; }

    // A device came back after an update, recover or restore: the version it
    // reports then. Read, it becomes that action's versionAfter, not an entry.
    static inline const QString kReturnAction = QStringLiteral("return");

    [[nodiscard]] bool append(const VHHistoryEntry &entry) const;
    // The entries of both files, oldest first, returns folded in.
    QList<VHHistoryEntry> entries() const;
    // Every line as written, returns included.
    QList<VHHistoryEntry> lines() const;
    // Whether the entry is a write the device completes when it restarts.
    static bool awaitsReturn(const VHHistoryEntry &entry);
    // Each return sets the versionAfter of its device's action before it and is left out.
    static QList<VHHistoryEntry> foldReturns(const QList<VHHistoryEntry> &lines);
    // The newest entry of the device with this UUID; false when there is none.
    bool lastFor(const QString &uuid, VHHistoryEntry &entry) const;

    // The entries in `bytes`, one JSON object per line; `partialStart` drops
    // the text before the first line break (a read that began mid-line).
    static QList<VHHistoryEntry> parse(const QByteArray &bytes, bool partialStart);

private:
    static QByteArray readTail(const QString &path, bool &partialStart);
    void rotateIfLarge(int fd) const;

    QString m_folder;
};
