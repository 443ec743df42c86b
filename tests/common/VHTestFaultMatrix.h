#pragma once

// A fault at every step of an update road: count the steps of a kind in a
// clean run, pick steps, set one rule before a faulted run, and name the row.
//
//   VHTestFaultMatrix matrix(sim, QStringLiteral("W1"));
//   matrix.clearLogs();
//   runRoad();                                         // clean
//   const VHFaultRule rule{VHFaultRule::VolumeFailWrite};
//   for (int step : VHTestFaultMatrix::pickSteps(matrix.countSteps(rule))) {
//       restoreDevice();
//       QVERIFY(matrix.setRule(rule, step));
//       runRoad();
//       QVERIFY2(!roadSaidDone(), matrix.describe("fit update", rule, step));
//   }
//   matrix.clearRules();
//
// Counting matches the rules when the platform (the runtime or devctl) does
// the same operations from clearLogs() to the end of the clean run as from
// setRule() on: setRule() clears the logs, and the simulator counts a rule's
// steps from the change of its file. SCSI rules count per connection: a road
// that reconnects restarts their count (see VHSimFaults.h), and vanishAfter
// counts the commands of the connection's opening (the detection's INQUIRY)
// too, which the log shows only when it was cleared before the detection.

#include "VHDevSim.h"
#include "VHSimLayout.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <algorithm>

#include <sys/stat.h>

struct VHFaultRule
{
    enum Kind {
        VolumeFailWrite,
        VolumeFailFsync,
        VolumeFailRename,
        VolumeNoSpaceFrom,
        VolumeVanishAt,
        VolumeCorruptRead,
        DataFailWrite,
        DataFailFsync,
        DataFailRename,
        DataNoSpaceFrom,
        DataCorruptRead,
        ScsiFailCommand,  // the N-th READ/WRITE(10) of `selector`
        ScsiCorruptReads, // the first N reads of `selector`
        ScsiVanishAfter,  // after N commands of any kind
    };
    Kind kind = VolumeFailWrite;
    int selector = -1;

    bool isVolume() const { return kind <= VolumeCorruptRead; }
    bool isDataFolder() const { return kind >= DataFailWrite && kind <= DataCorruptRead; }
    bool isScsi() const { return kind >= ScsiFailCommand; }

    // The key of the rule ("volumeFailWrite", "failCommand sel=15").
    QString name() const
    {
        static const char *const names[] = {
            "volumeFailWrite",   "volumeFailFsync", "volumeFailRename", "volumeNoSpaceFrom", "volumeVanishAt",
            "volumeCorruptRead", "dataFailWrite",   "dataFailFsync",    "dataFailRename",    "dataNoSpaceFrom",
            "dataCorruptRead",   "failCommand",     "corruptReads",     "vanishAfter"};
        const QString key = QString::fromLatin1(names[kind]);
        return isScsi() && kind != ScsiVanishAfter ? key + QStringLiteral(" sel=") + QString::number(selector) : key;
    }

    // Every rule of the volume resp. the data folder, for a table of rows.
    static QList<VHFaultRule> volumeRules()
    {
        return {{VolumeFailWrite},   {VolumeFailFsync}, {VolumeFailRename},
                {VolumeNoSpaceFrom}, {VolumeVanishAt},  {VolumeCorruptRead}};
    }
    static QList<VHFaultRule> dataFolderRules()
    {
        return {{DataFailWrite}, {DataFailFsync}, {DataFailRename}, {DataNoSpaceFrom}, {DataCorruptRead}};
    }
};

class VHTestFaultMatrix
{
public:
    VHTestFaultMatrix(VHDevSim &sim, const QString &device) : m_sim(sim), m_device(device) {}

    // Empties the device's volume.log and commands.log and the data folder's log.
    void clearLogs()
    {
        m_sim.clearVolumeLog(m_device);
        m_sim.clearCommandLog(m_device);
        m_sim.clearDataFolderLog();
    }

    // The steps the rule counts in the logs since clearLogs().
    int countSteps(const VHFaultRule &rule) const
    {
        if (rule.isScsi())
            return countScsiCommands(rule);
        const QStringList lines = rule.isVolume() ? m_sim.volumeLog(m_device) : m_sim.dataFolderLog();
        const QString kind = stepKind(rule.kind);
        if (kind.isEmpty())
            return int(lines.size());
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const QString &line) { return line.startsWith(kind + QLatin1Char(' ')); }));
    }

    // The lines a rule counts, for a failure message that shows where step N was.
    QStringList steps(const VHFaultRule &rule) const
    {
        const QStringList lines = rule.isScsi()     ? m_sim.commandLog(m_device)
                                  : rule.isVolume() ? m_sim.volumeLog(m_device)
                                                    : m_sim.dataFolderLog();
        QStringList counted;
        for (const QString &line : lines) {
            if (counts(rule, line))
                counted.append(line);
        }
        return counted;
    }

    // The first, middle and last of `count` steps and the given points of no
    // return (those outside 1..count are dropped), sorted, each once.
    static QList<int> pickSteps(int count, const QList<int> &pointsOfNoReturn = {})
    {
        QList<int> picked;
        if (count <= 0)
            return picked;
        picked << 1 << (count + 1) / 2 << count;
        for (const int point : pointsOfNoReturn) {
            if (point >= 1 && point <= count)
                picked << point;
        }
        std::sort(picked.begin(), picked.end());
        picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
        return picked;
    }

    // Drops every rule of the device and the data folder, sets `rule` at
    // `step` and clears the logs; false when the simulator refused it.
    bool setRule(const VHFaultRule &rule, int step)
    {
        VHSimFaults device;
        VHSimStorageFaults data;
        apply(rule, step, device, data);
        clearLogs();
        return writeRules(device, data);
    }

    bool clearRules() { return writeRules(VHSimFaults(), VHSimStorageFaults()); }

    // "road / fault / step N" for QVERIFY2.
    static QByteArray describe(const QString &road, const VHFaultRule &rule, int step)
    {
        return (road + QStringLiteral(" / ") + rule.name() + QStringLiteral(" / step ") + QString::number(step))
            .toUtf8();
    }

    // The log kind a rule's steps count ("write", "read", ...); empty for every line.
    static QString stepKind(VHFaultRule::Kind kind)
    {
        switch (kind) {
        case VHFaultRule::VolumeFailWrite:
        case VHFaultRule::VolumeNoSpaceFrom:
        case VHFaultRule::DataFailWrite:
        case VHFaultRule::DataNoSpaceFrom:
            return QStringLiteral("write");
        case VHFaultRule::VolumeFailFsync:
        case VHFaultRule::DataFailFsync:
            return QStringLiteral("fsync");
        case VHFaultRule::VolumeFailRename:
        case VHFaultRule::DataFailRename:
            return QStringLiteral("rename");
        case VHFaultRule::VolumeCorruptRead:
        case VHFaultRule::DataCorruptRead:
            return QStringLiteral("read");
        default:
            return {}; // every line
        }
    }

private:
    static bool counts(const VHFaultRule &rule, const QString &line)
    {
        if (!rule.isScsi()) {
            const QString kind = stepKind(rule.kind);
            return kind.isEmpty() || line.startsWith(kind + QLatin1Char(' '));
        }
        // Lines of the firmware log that are no command ("VANISHED ...") do not count.
        const bool command = line.startsWith(QLatin1String("INQUIRY ")) || line.startsWith(QLatin1String("READ "))
                             || line.startsWith(QLatin1String("WRITE ")) || line.startsWith(QLatin1String("CDB-"));
        if (rule.kind == VHFaultRule::ScsiVanishAfter)
            return command;
        // A command sent while the device restarts never reaches the rules;
        // only reads that succeeded can be corrupted.
        const QString selector = QStringLiteral(" sel=%1 ").arg(rule.selector);
        const bool read = line.startsWith(QLatin1String("READ ")) && line.contains(selector);
        const bool write = line.startsWith(QLatin1String("WRITE ")) && line.contains(selector);
        if (rule.kind == VHFaultRule::ScsiCorruptReads)
            return read && (line.endsWith(QLatin1String(" ok")) || line.endsWith(QLatin1String(" fault=corrupt")));
        return (read || write) && !line.endsWith(QLatin1String(" fault=restarting"));
    }

    int countScsiCommands(const VHFaultRule &rule) const
    {
        const QStringList lines = m_sim.commandLog(m_device);
        return int(std::count_if(lines.begin(), lines.end(), [&](const QString &line) { return counts(rule, line); }));
    }

    static void apply(const VHFaultRule &rule, int step, VHSimFaults &device, VHSimStorageFaults &data)
    {
        VHSimStorageFaults &storage = rule.isVolume() ? device.volume : data;
        switch (rule.kind) {
        case VHFaultRule::VolumeFailWrite:
        case VHFaultRule::DataFailWrite:
            storage.failWrite = step;
            break;
        case VHFaultRule::VolumeFailFsync:
        case VHFaultRule::DataFailFsync:
            storage.failFsync = step;
            break;
        case VHFaultRule::VolumeFailRename:
        case VHFaultRule::DataFailRename:
            storage.failRename = step;
            break;
        case VHFaultRule::VolumeNoSpaceFrom:
        case VHFaultRule::DataNoSpaceFrom:
            storage.noSpaceFrom = step;
            break;
        case VHFaultRule::VolumeVanishAt:
            storage.vanishAt = step;
            break;
        case VHFaultRule::VolumeCorruptRead:
        case VHFaultRule::DataCorruptRead:
            storage.corruptRead = step;
            break;
        case VHFaultRule::ScsiFailCommand:
            device.failCommand = step;
            device.failSelector = rule.selector;
            break;
        case VHFaultRule::ScsiCorruptReads:
            device.corruptReads = step;
            device.corruptSelector = rule.selector;
            break;
        case VHFaultRule::ScsiVanishAfter:
            device.vanishAfter = step;
            break;
        }
    }

    static QByteArray stampOf(const QString &path)
    {
        struct stat st
        {};
        if (::stat(QFile::encodeName(path).constData(), &st) != 0)
            return {};
        return QByteArray::number(quint64(st.st_ino)) + ':' + QByteArray::number(qint64(st.st_mtim.tv_sec)) + ':'
               + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ':' + QByteArray::number(qint64(st.st_size));
    }

    // The simulator notices new rules by the files' stamps and counts from
    // then; a rewrite within the clock's granularity could keep a stamp, so
    // rules are cleared first and set again until the stamp shows the change.
    bool writeRules(const VHSimFaults &device, const VHSimStorageFaults &data)
    {
        const QString record = m_sim.deviceFolder(m_device) + QLatin1Char('/') + VHSimLayout::kDeviceRecord;
        const QString dataRules = m_sim.root() + QLatin1Char('/') + VHSimLayout::kDataFolderRules;
        const QByteArray recordBefore = stampOf(record);
        const QByteArray dataBefore = stampOf(dataRules);
        for (int tries = 0; tries < 20; ++tries) {
            if (!m_sim.setFaults(m_device, VHSimFaults()) || !m_sim.setDataFolderFaults(VHSimStorageFaults())
                || !m_sim.setFaults(m_device, device) || !m_sim.setDataFolderFaults(data))
                return false;
            const bool deviceSeen = device.isEmpty() || stampOf(record) != recordBefore;
            const bool dataSeen = data.isEmpty() || stampOf(dataRules) != dataBefore;
            if (deviceSeen && dataSeen)
                return true;
            QThread::msleep(5);
        }
        return false;
    }

    VHDevSim &m_sim;
    QString m_device;
};
