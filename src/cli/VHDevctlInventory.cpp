#include "VHDevctlInventory.h"

#include "VHClient.h"
#include "VHDeviceRegistry.h"
#include "VHDeviceService.h"
#include "VHFSDeviceService.h"
#include "VHFitDevice.h"
#include "VHGalDevice.h"
#include "VHGalStranded.h"
#include "VHIniDocument.h"
#include "VHPSFDevice.h"
#include "VHPacer30.h"
#include "VHPacer50.h"
#include "VHSCSIDeviceService.h"
#include "VHUtility.h"

#include <QJsonValue>

namespace {

// The versions an identity file names, as the device object of its family
// reports them: a FIT device compares a version composed of its images'.
void readVersions(const VHIniDocument &ini, bool fit, VHDevctlDevice &identity)
{
    const auto versionOf = [&ini](const QString &kind) { return ini.value(kind, QStringLiteral("Version")).trimmed(); };
    identity.version = fit ? VHFitDevice::composedVersion(versionOf) : versionOf(QStringLiteral("OS"));
    identity.versions.insert(QStringLiteral("software"), identity.version);
    // The other families name more versions in other files; the device object reads them.
    if (fit) {
        identity.versions.insert(QStringLiteral("image"), versionOf(QStringLiteral("OS")));
        identity.versions.insert(QStringLiteral("bootloader"), versionOf(QStringLiteral("BootLoader")));
    }
    identity.versions.removeIf([](const auto &entry) { return entry.value().isEmpty(); });
}

// The identity file of a drive: "/System/device.txt" first, else "/device.ini";
// it fills the UUID, model and versions.
bool readIdentity(const QString &drive, VHDevctlDevice &identity)
{
    for (const bool fit : {true, false}) {
        const QString path = fit ? VHUtility::findDeviceTxt(drive) : VHUtility::findDeviceIni(drive);
        QByteArray bytes;
        if (path.isEmpty() || !VHFSDeviceService::readIdentity(drive, path, bytes))
            continue;
        const VHIniDocument ini(bytes);
        identity.identifiedByDeviceTxt = fit;
        identity.uuid = ini.value(QStringLiteral("UUID"), QStringLiteral("UUID")).trimmed();
        identity.model = ini.value(QStringLiteral("MODEL"), QStringLiteral("Model")).trimmed();
        readVersions(ini, fit, identity);
        return true;
    }
    return false;
}

// The device families by the registry role of their factory: a row tells
// the family of a device before any device object exists.
struct FamilyOfRole
{
    const char *role;
    const char *family;
};
const FamilyOfRole kFamilies[] = {
    {"fit", "fit"}, {"gal", "gal"},         {"pacer50cr", "pacer50"}, {"pacer60", "pacer50"},
    {"psf", "psf"}, {"pacer35", "pacer30"}, {"pulsar30", "pacer30"},
};

QString familyOfFactory(VHDeviceFactory factory)
{
    const VHDeviceRegistry &registry = VHDeviceRegistry::instance();
    for (const FamilyOfRole &row : kFamilies) {
        if (factory && registry.factory(QLatin1String(row.role)) == factory)
            return QLatin1String(row.family);
    }
    return QString();
}

// The same words from the class of a device object.
QString familyOfClient(VHClient &client)
{
    if (dynamic_cast<VHFitDevice *>(&client))
        return QStringLiteral("fit");
    if (dynamic_cast<VHGalDevice *>(&client))
        return QStringLiteral("gal");
    if (dynamic_cast<VHPacer50 *>(&client))
        return QStringLiteral("pacer50");
    if (dynamic_cast<VHPSFDevice *>(&client))
        return QStringLiteral("psf");
    if (dynamic_cast<VHPacer30 *>(&client))
        return QStringLiteral("pacer30");
    return QString();
}

// A volume's row: by the model code the UUID starts with, else by model name.
QString familyOfVolume(const VHDevctlDevice &device, const VHModelTable &rows)
{
    if (device.identifiedByDeviceTxt)
        return QStringLiteral("fit");
    for (const bool byCode : {true, false}) {
        for (const VHModelInfo &row : rows) {
            const bool matches = byCode ? !row.code.isEmpty() && device.uuid.startsWith(row.code)
                                        : !row.modelName.isEmpty() && device.model == row.modelName;
            if (matches)
                return familyOfFactory(row.factory);
        }
    }
    return QString();
}

QMap<QString, QString> versionsOf(VHClient &client)
{
    using Getter = bool (VHClient::*)(QString &);
    const std::pair<const char *, Getter> getters[] = {
        {"software", &VHClient::getVersion},
        {"image", &VHClient::getImageVersion},
        {"bootloader", &VHClient::getIAPVersion},
        {"ap", &VHClient::getAPVersion},
        {"launchSecurity", &VHClient::getLaunchSecVersion},
    };
    QMap<QString, QString> versions;
    for (const auto &[name, getter] : getters) {
        QString text;
        (void)(client.*getter)(text);
        versions.insert(QLatin1String(name), text.trimmed());
    }
    versions.insert(QStringLiteral("component"), client.secondComponentVersion().trimmed());
    // The image is the software on most families: named once.
    if (versions.value(QStringLiteral("image")) == versions.value(QStringLiteral("software")))
        versions.remove(QStringLiteral("image"));
    versions.removeIf([](const auto &entry) { return entry.value().isEmpty(); });
    return versions;
}

QJsonValue textOrNull(const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }

VHDevctlDevice scsiDevice(VHDeviceService &found)
{
    VHDevctlDevice device;
    device.transport = QStringLiteral("scsi");
    auto *service = dynamic_cast<VHSCSIDeviceService *>(&found);
    const bool open = service && service->openClient();
    found.getUUID(device.uuid);
    if (service)
        device.node = service->nodePath();
    const VHModelInfo row = found.modelInfo();
    if (VHGalStranded::isStranded(found) && service) {
        device.iapMode = true;
        const VHGalStranded::Device stranded = VHGalStranded::identifyOpen(*service);
        device.identification = stranded.identification;
        device.model = stranded.productModel;
        device.state = QStringLiteral("iap");
    } else {
        device.model = row.modelName;
        device.family = familyOfFactory(row.factory);
        // What the flash-written families report as their versions.
        if (service) {
            device.version = QString::fromLatin1(service->productTag()).trimmed();
            device.versions.insert(QStringLiteral("software"), device.version);
            device.versions.insert(QStringLiteral("bootloader"), QString::fromLatin1(service->iapTag()).trimmed());
            device.versions.removeIf([](const auto &entry) { return entry.value().isEmpty(); });
        }
    }
    if (open)
        service->closeClient();
    return device;
}

} // namespace

VHDevctlDevice VHDevctlDevice::ofClient(VHClient &client)
{
    VHDevctlDevice device;
    client.getUUID(device.uuid);
    device.uuid = device.uuid.trimmed();
    client.getModelName(device.model);
    device.family = familyOfClient(client);
    const bool scsi = client.serviceType() == VHDeviceService::DEVICE_SCSI;
    device.transport = scsi ? QStringLiteral("scsi") : QStringLiteral("volume");
    if (!scsi)
        client.getRootPath(device.node);
    else if (auto *service = dynamic_cast<VHSCSIDeviceService *>(client.deviceService()))
        device.node = service->nodePath();
    device.versions = versionsOf(client);
    device.version = device.versions.value(QStringLiteral("software"));
    // A device of a volume family reached over SCSI waits in its loader.
    device.iapMode = scsi && dynamic_cast<VHGalDevice *>(&client);
    const int state = client.state();
    device.state = device.iapMode && state == VHClient::STATE_READY ? QStringLiteral("iap") : stateWord(state);
    return device;
}

QString VHDevctlDevice::stateWord(int state)
{
    switch (state) {
    case VHClient::STATE_READY:
        return QStringLiteral("ready");
    case VHClient::STATE_UPDATING:
        return QStringLiteral("updating");
    case VHClient::STATE_OUT_OF_SERVICE:
        return QStringLiteral("busy");
    case VHClient::STATE_RESTORING:
    case VHClient::STATE_MODEL: // the models' own state: a restore waiting for the device's restart
        return QStringLiteral("restoring");
    default:
        return QStringLiteral("busy");
    }
}

QJsonObject VHDevctlDevice::toJson() const
{
    QJsonObject named;
    for (auto it = versions.cbegin(); it != versions.cend(); ++it)
        named.insert(it.key(), it.value());
    QJsonObject object{
        {QStringLiteral("family"), textOrNull(family)},
        {QStringLiteral("model"), textOrNull(model)},
        {QStringLiteral("uuid"), textOrNull(uuid)},
        {QStringLiteral("versions"), named},
        {QStringLiteral("version"), textOrNull(version)},
        {QStringLiteral("transport"), transport},
        {QStringLiteral("node"), textOrNull(node)},
        {QStringLiteral("state"), state},
        {QStringLiteral("iapMode"), iapMode},
    };
    // Kept for the scripts written against the first form of the object.
    if (transport == QLatin1String("volume"))
        object.insert(QStringLiteral("path"), node);
    if (iapMode)
        object.insert(QStringLiteral("identification"), identification);
    return object;
}

QString VHDevctlDevice::describe() const
{
    QString text = QStringLiteral("%1  %2  %3").arg(uuid.isEmpty() ? QStringLiteral("-") : uuid, model, transport);
    if (!node.isEmpty())
        text += QStringLiteral("  ") + node;
    if (!version.isEmpty())
        text += QStringLiteral("  version ") + version;
    if (iapMode)
        text +=
            QStringLiteral("  IAP mode (") + identification + QStringLiteral("): recover it with 'recover PACKAGE'");
    return text;
}

namespace VHDevctlInventory {

QString iapIdentification(const QByteArray &inquiry) { return VHGalStranded::iapIdentification(inquiry); }

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
        device.node = drive;
        device.family = familyOfVolume(device, knownRows);
        devices.append(device);
    }
    VHServiceList services = backend.findSCSIDevices(VHGalStranded::scanRows(knownRows));
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
