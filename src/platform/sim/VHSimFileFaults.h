#pragma once

#include "VHSimFaults.h"
#include "VHSysCalls.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <mutex>

// The storage faults of a simulation root: the file-operation hook the
// simulated platform installs while it lives (one root per process; a
// platform of another root replaces it).
//
// Which operations count: those the system makes through VHSysCalls.h on a
// file or folder below a drive that belongs to a device folder (its
// ".simdrive" names a device of <root>/.devices), and below the data folder.
// Plain drives without a device folder have no faults and no log. Each
// counted operation appends "<kind> <path>" to <device folder>/volume.log or
// <root>/.datafolder.log, kind one of:
//   write    write/pwrite (counted before the call)
//   fsync    fsync/fdatasync/syncfs
//   rename   a rename onto the path (the new name)
//   read     a read or pread that gave bytes (counted after it; end-of-file
//            reads give none and do not count)
//   op       the creation of a new file (open with O_CREAT)
// "volumeVanishAt=N" counts lines of every kind; the other rules count their
// own kind. N is 1-based.
//
// When counting starts: from the first operation of the platform's life, and
// again from 0 whenever the rules file (sim.ini resp. .datafolder.ini)
// changes. A one-shot rule (fail the N-th write, fsync, rename, corrupt the
// N-th read, vanish) therefore fires once until its file changes again;
// volumeNoSpaceFrom holds for every later write.
//
// A vanish pulls the device as `velora-devsim unplug` does (its SCSI link
// goes, its drives move back into its device folder, so the watcher reports
// it gone), removes the rule from sim.ini, writes "VOLUME VANISHED at
// operation N" to its commands.log and fails that operation with ENODEV.
// Later operations on that plugging fail with ENODEV too, through handles
// opened before as well; plugging the device again ends that.
class VHSimFileFaults : public VHSys::FaultHook
{
public:
    // Keeps the hook of a root installed while any attachment of it lives.
    class Attachment
    {
    public:
        Attachment() = default;
        explicit Attachment(std::shared_ptr<VHSimFileFaults> faults) : m_faults(std::move(faults)) {}
        Attachment(Attachment &&other) noexcept = default;
        Attachment &operator=(Attachment &&other) noexcept;
        Attachment(const Attachment &) = delete;
        Attachment &operator=(const Attachment &) = delete;
        ~Attachment() { release(); }

    private:
        void release();
        std::shared_ptr<VHSimFileFaults> m_faults;
    };

    // Installs the hook of `root` (or keeps the one installed for it) with
    // the data folder `dataFolder`.
    static Attachment attach(const QString &root, const QString &dataFolder);

    VHSimFileFaults(const QString &root, const QString &dataFolder);
    int before(VHSys::Op op, const QByteArray &path) override;
    int afterRead(const QByteArray &path, char *data, size_t size) override;

private:
    struct Counts
    {
        int ops = 0;
        int writes = 0;
        int fsyncs = 0;
        int renames = 0;
        int reads = 0;
    };
    struct Track
    {
        QByteArray rulesStamp;
        VHSimStorageFaults rules;
        Counts counts;
    };
    struct DeviceTrack : Track
    {
        QSet<QString> pulledPlugs; // pluggings whose later operations fail
        bool pulled = false;
    };
    enum class Place { Elsewhere, DataFolder, Volume, PulledSlot };
    struct Target
    {
        Place place = Place::Elsewhere;
        QString device;
        QString plugId;
    };

    Target classify(const QByteArray &path);
    bool isInDataFolder(const QString &path);
    // The track of the target's rules, read again when their file changed;
    // nullptr with `error` set when the operation fails without counting.
    Track *trackOf(const Target &target, int &error);
    int count(Track &track, const Target &target, VHSys::Op op, const QByteArray &path, char *data = nullptr,
              size_t size = 0);
    void appendLog(const Target &target, const char *kind, const QByteArray &path) const;
    void pull(const QString &device, int atOperation);

    QString m_root;
    QString m_canonicalRoot;
    QString m_dataFolder;
    std::mutex m_mutex;
    int m_users = 0;
    Track m_data;
    QHash<QString, DeviceTrack> m_devices;
};
