#include "VHGalStranded.h"

#include "VHDeviceRegistry.h"
#include "VHDeviceService.h"
#include "VHGalPending.h"
#include "VHInquiry.h"
#include "VHLog.h"
#include "VHPlatform.h"
#include "VHSCSIDeviceService.h"

#include <algorithm>

namespace {

QString printableText(const QByteArray &bytes)
{
    return QString::fromLatin1(VHInquiry::printable(bytes)).remove(QLatin1Char('.')).trimmed();
}

QByteArray inquiryOf(VHSCSIDeviceService &service)
{
    return VHInquiry::read([&service](const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) {
        return service.readClient(cdb, cdbLength, buffer, length);
    });
}

bool isPrintable(const QString &text)
{
    return !text.isEmpty()
           && std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; });
}

} // namespace

VHModelTable VHGalStranded::scanRows(const VHModelTable &known)
{
    VHModelTable rows = known;
    rows.append({QString(), QString(), kIapMarker, nullptr});
    return rows;
}

bool VHGalStranded::isStranded(const VHDeviceService &service)
{
    return service.modelInfo().identification == kIapMarker;
}

VHGalStranded::Device VHGalStranded::identify(VHSCSIDeviceService &service)
{
    if (!service.openClient())
        return {};
    const Device device = identifyOpen(service);
    service.closeClient();
    return device;
}

VHGalStranded::Device VHGalStranded::identifyOpen(VHSCSIDeviceService &service)
{
    Device device;
    service.getUUID(device.uuid);
    const QByteArray inquiry = inquiryOf(service);
    device.identification = iapIdentification(inquiry);
    device.productModel = productModel(inquiry);
    return device;
}

QString VHGalStranded::iapIdentification(const QByteArray &inquiry)
{
    const qsizetype marker = inquiry.indexOf(kIapMarker.toLatin1());
    if (marker >= 0) {
        // "IAP " and a 4-byte tag, then the text the device announces.
        QByteArray rest = inquiry.mid(marker + 8);
        const qsizetype end = rest.indexOf('\0');
        if (end >= 0)
            rest.truncate(end);
        const QString text = QString::fromLatin1(rest).trimmed();
        if (isPrintable(text))
            return text;
    }
    return productModel(inquiry);
}

QString VHGalStranded::productModel(const QByteArray &inquiry) { return printableText(inquiry.mid(16, 11)); }

QStringList VHGalStranded::galModels()
{
    const VHDeviceRegistry &registry = VHDeviceRegistry::instance();
    const VHDeviceFactory gal = registry.factory(VHDeviceRegistry::kGalRole);
    QStringList models;
    for (const VHModelInfo &row : registry.builtInModels()) {
        if (gal && row.factory == gal && !models.contains(row.modelName))
            models.append(row.modelName);
    }
    return models;
}

QString VHGalStranded::storedModel(const QString &uuid)
{
    VHGalPending::Record record;
    return VHGalPending::ofDataFolder().load(uuid, record) ? record.model : QString();
}

QString VHGalStranded::modelFor(const Device &device, const QString &named)
{
    if (!named.isEmpty())
        return named;
    const QString stored = storedModel(device.uuid);
    return stored.isEmpty() ? device.productModel : stored;
}

VHModelInfo VHGalStranded::rowFor(const Device &device, const QString &model)
{
    VHModelInfo row;
    row.code = device.uuid.size() == 16 ? device.uuid.left(4) : QString();
    row.modelName = model;
    row.identification = device.identification;
    if (!model.isEmpty() && !device.identification.isEmpty())
        row.factory = VHDeviceRegistry::instance().factory(VHDeviceRegistry::kGalRole);
    return row;
}

QList<VHGalStranded::Waiting> VHGalStranded::findWaiting(VHPlatform &platform, const VHModelTable &known)
{
    QList<Waiting> found;
    for (const auto &service : platform.findSCSIDevices(scanRows(known))) {
        auto *scsi = dynamic_cast<VHSCSIDeviceService *>(service.get());
        if (!scsi || !isStranded(*service))
            continue;
        const Device device = identify(*scsi);
        const VHModelInfo row = rowFor(device, modelFor(device, QString()));
        vhDebug() << "device " << device.uuid << " waits in IAP mode as \"" << device.identification << "\", model "
                  << row.modelName;
        found.append({device, row});
    }
    return found;
}
