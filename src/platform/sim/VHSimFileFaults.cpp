#include "VHSimFileFaults.h"

#include "VHSimLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_attachMutex;

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.'));
}

const char *kindName(VHSys::Op op)
{
    switch (op) {
    case VHSys::Op::Write:
        return "write";
    case VHSys::Op::Read:
        return "read";
    case VHSys::Op::Fsync:
        return "fsync";
    case VHSys::Op::Rename:
        return "rename";
    case VHSys::Op::Create:
        break;
    }
    return "op";
}

// Appends one line with a single write, so that lines of several threads stay whole.
void appendLine(const QString &logPath, const QByteArray &line)
{
    const int fd = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

} // namespace

VHSimFileFaults::Attachment &VHSimFileFaults::Attachment::operator=(Attachment &&other) noexcept
{
    if (this != &other) {
        release();
        m_faults = std::move(other.m_faults);
    }
    return *this;
}

void VHSimFileFaults::Attachment::release()
{
    if (!m_faults)
        return;
    std::lock_guard<std::mutex> lock(g_attachMutex);
    if (--m_faults->m_users == 0 && VHSys::faultHook() == m_faults)
        VHSys::installFaultHook(nullptr);
    m_faults.reset();
}

VHSimFileFaults::Attachment VHSimFileFaults::attach(const QString &root, const QString &dataFolder)
{
    std::lock_guard<std::mutex> lock(g_attachMutex);
    const QString cleanRoot = QDir::cleanPath(QDir(root).absolutePath());
    auto faults = std::dynamic_pointer_cast<VHSimFileFaults>(VHSys::faultHook());
    if (faults && faults->m_root == cleanRoot) {
        std::lock_guard<std::mutex> state(faults->m_mutex);
        faults->m_dataFolder = QDir::cleanPath(QDir(dataFolder).absolutePath());
    } else {
        faults = std::make_shared<VHSimFileFaults>(cleanRoot, dataFolder);
        VHSys::installFaultHook(faults);
    }
    ++faults->m_users;
    return Attachment(faults);
}

VHSimFileFaults::VHSimFileFaults(const QString &root, const QString &dataFolder)
    : m_root(QDir::cleanPath(QDir(root).absolutePath())), m_dataFolder(QDir::cleanPath(QDir(dataFolder).absolutePath()))
{}

bool VHSimFileFaults::isInDataFolder(const QString &path)
{
    if (m_dataFolder.isEmpty())
        return false;
    const QString canonical = QFileInfo(m_dataFolder).canonicalFilePath();
    for (const QString &folder : {m_dataFolder, canonical}) {
        if (!folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/'))))
            return true;
    }
    return false;
}

VHSimFileFaults::Target VHSimFileFaults::classify(const QByteArray &nativePath)
{
    const QString path = QFile::decodeName(nativePath);
    Target target;
    if (isInDataFolder(path)) {
        target.place = Place::DataFolder;
        return target;
    }
    if (m_canonicalRoot.isEmpty())
        m_canonicalRoot = QFileInfo(m_root).canonicalFilePath();
    const QString root = path.startsWith(m_canonicalRoot + QLatin1Char('/')) ? m_canonicalRoot : m_root;
    if (root.isEmpty() || !path.startsWith(root + QLatin1Char('/')))
        return target;
    const QString relative = path.mid(root.size() + 1);
    const QString first = relative.section(QLatin1Char('/'), 0, 0);
    if (first == VHSimLayout::kDevicesFolder) {
        // A volume moved back into its device folder by a vanish.
        target.device = relative.section(QLatin1Char('/'), 1, 1);
        const bool inSlot = !relative.section(QLatin1Char('/'), 2).isEmpty();
        if (inSlot && m_devices.value(target.device).pulled)
            target.place = Place::PulledSlot;
        return target;
    }
    if (!isPlainName(first))
        return target;
    const QHash<QString, QString> info =
        VHSimLayout::readSmallIni(root + QLatin1Char('/') + first + QLatin1Char('/') + VHSimLayout::kDriveInfo);
    target.device = info.value(QStringLiteral("device"));
    target.plugId = info.value(QStringLiteral("plugId"));
    if (isPlainName(target.device) && QFileInfo(VHSimLayout::deviceFolder(m_root, target.device)).isDir())
        target.place = Place::Volume;
    return target;
}

VHSimFileFaults::Track *VHSimFileFaults::trackOf(const Target &target, int &error)
{
    error = 0;
    if (target.place == Place::PulledSlot) {
        error = ENODEV;
        return nullptr;
    }
    if (target.place == Place::DataFolder) {
        const QString rules = m_root + QLatin1Char('/') + VHSimLayout::kDataFolderRules;
        const QByteArray stamp = VHSimLayout::fileStamp(rules);
        if (stamp != m_data.rulesStamp) {
            m_data = Track{stamp, VHSimStorageFaults::readDataFolder(rules), Counts()};
        }
        return &m_data;
    }
    if (target.place != Place::Volume)
        return nullptr;
    DeviceTrack &device = m_devices[target.device];
    if (device.pulled && device.pulledPlugs.contains(target.plugId)) {
        error = ENODEV;
        return nullptr;
    }
    // Plugged again: a new plugging works.
    device.pulled = false;
    device.pulledPlugs.clear();
    const QString record =
        VHSimLayout::deviceFolder(m_root, target.device) + QLatin1Char('/') + VHSimLayout::kDeviceRecord;
    const QByteArray stamp = VHSimLayout::fileStamp(record);
    if (stamp != device.rulesStamp) {
        device.rulesStamp = stamp;
        device.rules = VHSimFaults::read(record).volume;
        device.counts = Counts();
    }
    return &device;
}

int VHSimFileFaults::before(VHSys::Op op, const QByteArray &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Target target = classify(path);
    int error = 0;
    Track *track = trackOf(target, error);
    // Reads count once they gave bytes (afterRead).
    if (!track || op == VHSys::Op::Read)
        return error;
    return count(*track, target, op, path);
}

int VHSimFileFaults::afterRead(const QByteArray &path, char *data, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Target target = classify(path);
    int error = 0;
    Track *track = trackOf(target, error);
    return track ? count(*track, target, VHSys::Op::Read, path, data, size) : error;
}

int VHSimFileFaults::count(Track &track, const Target &target, VHSys::Op op, const QByteArray &path, char *data,
                           size_t size)
{
    Counts &counts = track.counts;
    const VHSimStorageFaults &rules = track.rules;
    ++counts.ops;
    appendLog(target, kindName(op), path);
    if (target.place == Place::Volume && rules.vanishAt == counts.ops) {
        pull(target.device, counts.ops);
        return ENODEV;
    }
    switch (op) {
    case VHSys::Op::Write:
        ++counts.writes;
        if (counts.writes == rules.failWrite)
            return EIO;
        return rules.noSpaceFrom > 0 && counts.writes >= rules.noSpaceFrom ? ENOSPC : 0;
    case VHSys::Op::Fsync:
        return ++counts.fsyncs == rules.failFsync ? EIO : 0;
    case VHSys::Op::Rename:
        return ++counts.renames == rules.failRename ? EIO : 0;
    case VHSys::Op::Read:
        if (++counts.reads == rules.corruptRead && data && size > 0)
            data[size / 2] = char(~data[size / 2]);
        return 0;
    case VHSys::Op::Create:
        break;
    }
    return 0;
}

void VHSimFileFaults::appendLog(const Target &target, const char *kind, const QByteArray &path) const
{
    const QString log = target.place == Place::DataFolder ? m_root + QLatin1Char('/') + VHSimLayout::kDataFolderLog
                                                          : VHSimLayout::deviceFolder(m_root, target.device)
                                                                + QLatin1Char('/') + VHSimLayout::kVolumeLog;
    appendLine(log, QByteArray(kind) + ' ' + path + '\n');
}

void VHSimFileFaults::pull(const QString &device, int atOperation)
{
    const QString folder = VHSimLayout::deviceFolder(m_root, device);
    DeviceTrack &track = m_devices[device];
    track.pulled = true;
    const QString link = VHSimLayout::scsiLinkPath(m_root, device);
    if (QFileInfo(link).isSymLink())
        QFile::remove(link);
    // The primary volume first, as an unplug does.
    QList<QPair<QString, QString>> moves;
    for (const QString &drive : VHSimLayout::driveFolders(m_root)) {
        const QHash<QString, QString> info =
            VHSimLayout::readSmallIni(drive + QLatin1Char('/') + VHSimLayout::kDriveInfo);
        const QString slot = info.value(QStringLiteral("slot"), QStringLiteral("volume"));
        if (info.value(QStringLiteral("device")) != device || !isPlainName(slot))
            continue;
        track.pulledPlugs.insert(info.value(QStringLiteral("plugId")));
        const QPair<QString, QString> move{drive, folder + QLatin1Char('/') + slot};
        if (slot == QLatin1String("volume"))
            moves.prepend(move);
        else
            moves.append(move);
    }
    for (const auto &move : std::as_const(moves)) {
        if (!QFileInfo::exists(move.second))
            QDir().rename(move.first, move.second);
    }
    // A cable is pulled once: the rule goes, so the next plug works.
    const QString record = folder + QLatin1Char('/') + VHSimLayout::kDeviceRecord;
    VHSimFaults faults = VHSimFaults::read(record);
    faults.volume.vanishAt = 0;
    faults.write(record);
    track.rulesStamp = VHSimLayout::fileStamp(record);
    track.rules = faults.volume;
    appendLine(folder + QLatin1Char('/') + VHSimLayout::kCommandLog,
               "VOLUME VANISHED at operation " + QByteArray::number(atOperation) + '\n');
}
