#include "VHDevctlInventory.h"

#include "VHDeviceService.h"
#include "VHFSDeviceService.h"
#include "VHIniDocument.h"
#include "VHInquiry.h"
#include "VHSCSIDeviceService.h"
#include "VHScsiCommands.h"
#include "VHUtility.h"

namespace {

const QString kIapMarker = QStringLiteral("IAP I");

// The identity file of a drive: "/System/device.txt" first, else "/device.ini";
// it fills the family, UUID, model and version.
bool readIdentity(const QString &drive, VHDevctlDevice &identity)
{
    for (const bool fit : {true, false}) {
        const QString path = fit ? VHUtility::findDeviceTxt(drive) : VHUtility::findDeviceIni(drive);
        QByteArray bytes;
        if (path.isEmpty() || !VHFSDeviceService::readIdentity(drive, path, bytes))
            continue;
        const VHIniDocument ini(bytes);
        identity.family = fit ? QStringLiteral("fit") : QStringLiteral("ini");
        identity.uuid = ini.value(QStringLiteral("UUID"), QStringLiteral("UUID")).trimmed();
        identity.model = ini.value(QStringLiteral("MODEL"), QStringLiteral("Model")).trimmed();
        identity.version = ini.value(QStringLiteral("OS"), QStringLiteral("Version")).trimmed();
        return true;
    }
    return false;
}

QString printableText(const QByteArray &bytes)
{
    return QString::fromLatin1(VHInquiry::printable(bytes)).remove(QLatin1Char('.')).trimmed();
}

QByteArray inquiryOf(VHSCSIDeviceService &service)
{
    const VHScsiCommands::Cdb6 cdb = VHScsiCommands::inquiry();
    QByteArray answer(VHScsiCommands::kInquiryLength, '\0');
    if (!service.readClient(cdb.data(), int(cdb.size()), reinterpret_cast<std::uint8_t *>(answer.data()),
                            int(answer.size())))
        return {};
    return answer;
}

VHDevctlDevice scsiDevice(VHDeviceService &found)
{
    VHDevctlDevice device;
    device.transport = QStringLiteral("scsi");
    device.family = QStringLiteral("scsi");
    auto *service = dynamic_cast<VHSCSIDeviceService *>(&found);
    const bool open = service && service->openClient();
    found.getUUID(device.uuid);
    const VHModelInfo row = found.modelInfo();
    if (row.identification == kIapMarker && service) {
        device.iapMode = true;
        const QByteArray inquiry = inquiryOf(*service);
        device.identification = VHDevctlInventory::iapIdentification(inquiry);
        // The product field names the model on the devices we know.
        device.model = printableText(inquiry.mid(16, 11));
    } else {
        device.model = row.modelName;
    }
    if (open)
        service->closeClient();
    return device;
}

} // namespace

QJsonObject VHDevctlDevice::toJson() const
{
    QJsonObject object{{QStringLiteral("uuid"), uuid},      {QStringLiteral("model"), model},
                       {QStringLiteral("family"), family},  {QStringLiteral("transport"), transport},
                       {QStringLiteral("path"), path},      {QStringLiteral("version"), version},
                       {QStringLiteral("iapMode"), iapMode}};
    if (iapMode)
        object.insert(QStringLiteral("identification"), identification);
    return object;
}

QString VHDevctlDevice::describe() const
{
    QString text = QStringLiteral("%1  %2  %3").arg(uuid.isEmpty() ? QStringLiteral("-") : uuid, model, transport);
    if (!path.isEmpty())
        text += QStringLiteral("  ") + path;
    if (!version.isEmpty())
        text += QStringLiteral("  version ") + version;
    if (iapMode)
        text +=
            QStringLiteral("  IAP mode (") + identification + QStringLiteral("): recover it with 'recover PACKAGE'");
    return text;
}

namespace VHDevctlInventory {

QString iapIdentification(const QByteArray &inquiry)
{
    const qsizetype marker = inquiry.indexOf(kIapMarker.toLatin1());
    if (marker >= 0) {
        // "IAP " and a 4-byte tag, then the text the device announces.
        QByteArray rest = inquiry.mid(marker + 8);
        const qsizetype end = rest.indexOf('\0');
        if (end >= 0)
            rest.truncate(end);
        const QString text = QString::fromLatin1(rest).trimmed();
        bool printable = !text.isEmpty();
        for (const QChar c : text)
            printable = printable && c.unicode() >= 0x20 && c.unicode() < 0x7F;
        if (printable)
            return text;
    }
    return printableText(inquiry.mid(16, 11));
}

QList<VHDevctlDevice> scan(VHPlatformInterface &backend, const VHModelTable &knownRows)
{
    QList<VHDevctlDevice> devices;
    QStringList drives;
    backend.getRemovableDrives(drives, QStringLiteral("msdos"), 0);
    for (const QString &drive : std::as_const(drives)) {
        VHDevctlDevice device;
        if (!readIdentity(drive, device))
            continue;
        device.transport = QStringLiteral("volume");
        device.path = drive;
        devices.append(device);
    }
    VHModelTable rows = knownRows;
    rows.append({QString(), QString(), kIapMarker, nullptr});
    VHServiceList services = backend.findSCSIDevices(rows);
    for (const auto &service : services)
        devices.append(scsiDevice(*service));
    return devices;
}

} // namespace VHDevctlInventory

VHDevctlBackend::VHDevctlBackend(std::unique_ptr<VHPlatformInterface> inner, const QString &uuid)
    : m_inner(std::move(inner)), m_uuid(uuid)
{}

bool VHDevctlBackend::getDiskSpace(const QString &path, quint64 &total, quint64 &free)
{
    return m_inner->getDiskSpace(path, total, free);
}

void VHDevctlBackend::getRemovableDrives(QStringList &drives, const QString &fileSystem, int reserved)
{
    QStringList all;
    m_inner->getRemovableDrives(all, fileSystem, reserved);
    for (const QString &drive : std::as_const(all)) {
        VHDevctlDevice identity;
        // A drive without identity file may be the device's second volume.
        if (m_uuid.isEmpty() || !readIdentity(drive, identity) || identity.uuid == m_uuid)
            drives.append(drive);
    }
}

VHServiceList VHDevctlBackend::findSCSIDevices(const VHModelTable &models)
{
    // Even a chosen device without UUID (in IAP mode) is told apart: it is
    // the one whose UUID is empty too, never whichever the scan meets first.
    VHServiceList found = m_inner->findSCSIDevices(models);
    VHServiceList kept;
    for (auto &service : found) {
        auto *scsi = dynamic_cast<VHSCSIDeviceService *>(service.get());
        const bool open = scsi && scsi->openClient();
        QString uuid;
        service->getUUID(uuid);
        if (open)
            scsi->closeClient();
        if (uuid == m_uuid)
            kept.push_back(std::move(service));
    }
    return kept;
}
