#include "VHSimScsiDevice.h"

#include "VHSimLayout.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr qint64 kSectorSize = 4096;

QByteArray padded(const QByteArray &text, int width, char pad = ' ')
{
    return text.left(width).leftJustified(width, pad);
}

bool openFlash(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::ReadWrite);
}

} // namespace

VHSimScsiDevice::Identity VHSimScsiDevice::readIdentity(const QString &deviceFolder)
{
    const QHash<QString, QString> ini =
        VHSimLayout::readSmallIni(deviceFolder + QLatin1Char('/') + VHSimLayout::kDeviceRecord);
    Identity identity;
    const auto text = [&](const char *key, const QByteArray &fallback) {
        const QString value = ini.value(QStringLiteral("Scsi/") + QLatin1String(key));
        return value.isEmpty() ? fallback : value.toLatin1();
    };
    const auto number = [&](const char *key, qint64 fallback) {
        bool ok = false;
        const qint64 value = ini.value(QStringLiteral("Scsi/") + QLatin1String(key)).toLongLong(&ok, 0);
        return ok && value >= 0 ? value : fallback;
    };
    identity.vendor = text("vendor", identity.vendor);
    identity.product = text("product", {});
    identity.productTag = text("productTag", {});
    identity.iapTag = text("iapTag", identity.iapTag);
    identity.identification = text("identification", {});
    identity.uuid = text("uuid", {});
    identity.internalSize = number("internalSize", identity.internalSize);
    identity.externalSize = number("externalSize", identity.externalSize);
    identity.loaderSize = number("loaderSize", identity.loaderSize);
    identity.busyPolls = int(number("busyPolls", 0));
    return identity;
}

void VHSimScsiDevice::writeIdentity(const QString &deviceFolder, const Identity &identity)
{
    QSettings ini(deviceFolder + QLatin1Char('/') + VHSimLayout::kDeviceRecord, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Scsi"));
    ini.setValue(QStringLiteral("vendor"), QString::fromLatin1(identity.vendor));
    ini.setValue(QStringLiteral("product"), QString::fromLatin1(identity.product));
    ini.setValue(QStringLiteral("productTag"), QString::fromLatin1(identity.productTag));
    ini.setValue(QStringLiteral("iapTag"), QString::fromLatin1(identity.iapTag));
    ini.setValue(QStringLiteral("identification"), QString::fromLatin1(identity.identification));
    ini.setValue(QStringLiteral("uuid"), QString::fromLatin1(identity.uuid));
    ini.setValue(QStringLiteral("internalSize"), identity.internalSize);
    ini.setValue(QStringLiteral("externalSize"), identity.externalSize);
    ini.setValue(QStringLiteral("loaderSize"), identity.loaderSize);
    ini.setValue(QStringLiteral("busyPolls"), identity.busyPolls);
    ini.endGroup();
}

QByteArray VHSimScsiDevice::inquiryData(const Identity &identity)
{
    QByteArray data(128, '\0');
    data[1] = char(0x80); // removable medium
    data[2] = 0x05;
    data[3] = 0x02;
    data[4] = char(data.size() - 5);
    data.replace(8, 8, padded(identity.vendor, 8));
    data.replace(16, 11, padded(identity.product, 11));
    data.replace(27, 4, padded(identity.productTag, 4));
    data[31] = ' ';
    data.replace(36, 8, "IAP " + padded(identity.iapTag, 4));
    data.replace(44, 84, padded(identity.identification, 84, '\0'));
    return data;
}

std::unique_ptr<VHSimScsiDevice> VHSimScsiDevice::open(const QString &deviceFolder, const QString &presencePath)
{
    if (!QFileInfo(deviceFolder + QLatin1Char('/') + VHSimLayout::kDeviceRecord).isFile())
        return nullptr;
    std::unique_ptr<VHSimScsiDevice> device(new VHSimScsiDevice);
    device->m_folder = deviceFolder;
    device->m_presencePath = presencePath;
    device->m_identity = readIdentity(deviceFolder);
    const QString base = deviceFolder + QLatin1Char('/');
    if (!openFlash(device->m_internal, base + VHSimLayout::kInternalFlash)
        || !openFlash(device->m_external, base + VHSimLayout::kExternalFlash)
        || !openFlash(device->m_loader, base + VHSimLayout::kLoaderFlash))
        return nullptr;
    device->m_log.setFileName(base + VHSimLayout::kCommandLog);
    if (!device->m_log.open(QIODevice::WriteOnly | QIODevice::Append))
        return nullptr;
    return device;
}

bool VHSimScsiDevice::isPlugged() const
{
    return m_presencePath.isEmpty() || QFileInfo(m_presencePath).isSymLink() || QFileInfo::exists(m_presencePath);
}

bool VHSimScsiDevice::execute(const std::uint8_t *cdb, int cdbLength, Direction direction, std::uint8_t *buffer,
                              int length)
{
    Command command;
    if (!cdb || cdbLength < 1 || cdbLength > 16 || !buffer || length <= 0)
        return false;
    command.opcode = cdb[0];
    if (cdbLength >= 10) {
        command.selector = cdb[6];
        command.block = (qint64(cdb[2]) << 24) | (qint64(cdb[3]) << 16) | (qint64(cdb[4]) << 8) | cdb[5];
        command.unit = ((qint64(cdb[7]) << 8) | cdb[8]) * 512;
    }
    const bool ok = isPlugged() && dispatch(command, direction, buffer, length);
    log(command, length, ok);
    return ok;
}

bool VHSimScsiDevice::dispatch(const Command &command, Direction direction, std::uint8_t *buffer, int length)
{
    if (command.opcode == kInquiry && direction == Read)
        return inquiry(buffer, length);
    if (command.opcode == kRead10 && direction == Read && command.unit > 0)
        return read10(command, buffer, length);
    if (command.opcode == kWrite10 && direction == Write && command.unit > 0)
        return write10(command, buffer, length);
    return false;
}

bool VHSimScsiDevice::inquiry(std::uint8_t *buffer, int length)
{
    const QByteArray data = inquiryData(m_identity);
    std::memcpy(buffer, data.constData(), size_t(qMin<qsizetype>(length, data.size())));
    return true;
}

bool VHSimScsiDevice::read10(const Command &command, std::uint8_t *buffer, int length)
{
    switch (command.selector) {
    case 0x03: {
        std::memset(buffer, 0, size_t(length));
        const QByteArray uuid = m_identity.uuid.left(16);
        if (length >= 16)
            std::memcpy(buffer + length - 16, uuid.constData(), size_t(uuid.size()));
        return true;
    }
    case 0x0D:
        return transfer(m_internal, command.block * command.unit, Read, buffer, length);
    case 0x10:
        return transfer(m_external, command.block * command.unit, Read, buffer, length);
    case 0x15:
        return flashStatus(buffer, length);
    case 0x1A:
        std::memset(buffer, 0, size_t(length));
        setState(QStringLiteral("iapNotified"), 1);
        return true;
    default:
        return false;
    }
}

bool VHSimScsiDevice::write10(const Command &command, const std::uint8_t *buffer, int length)
{
    auto *data = const_cast<std::uint8_t *>(buffer); // written from, never to
    switch (command.selector) {
    case 0x18:
        return fill(m_external, command.block * kSectorSize, kSectorSize, char(0xFF));
    case 0x0C:
        return transfer(m_internal, command.block * command.unit, Write, data, length);
    case 0x0F:
        return transfer(m_external, command.block * command.unit, Write, data, length);
    case 0x0A:
        return transfer(m_loader, command.block * command.unit, Write, data, length);
    case 0x0E:
        m_busyPolls = m_identity.busyPolls;
        return fill(m_external, 0, m_external.size(), char(0xFF));
    case 0x01:
    case 0x00:
        setState(QStringLiteral("mode"),
                 command.selector == 0x01 ? QStringLiteral("loader") : QStringLiteral("normal"));
        return true;
    default:
        return false;
    }
}

bool VHSimScsiDevice::transfer(QFile &flash, qint64 offset, Direction direction, std::uint8_t *buffer, qint64 length)
{
    if (offset < 0 || length <= 0 || offset + length > flash.size() || !flash.seek(offset))
        return false;
    if (direction == Read)
        return flash.read(reinterpret_cast<char *>(buffer), length) == length;
    return flash.write(reinterpret_cast<const char *>(buffer), length) == length && flash.flush();
}

bool VHSimScsiDevice::fill(QFile &flash, qint64 offset, qint64 length, char value)
{
    if (offset < 0 || length <= 0 || offset + length > flash.size() || !flash.seek(offset))
        return false;
    const QByteArray chunk(qMin<qint64>(length, 1 << 16), value);
    for (qint64 done = 0; done < length;) {
        const qint64 n = qMin<qint64>(chunk.size(), length - done);
        if (flash.write(chunk.constData(), n) != n)
            return false;
        done += n;
    }
    return flash.flush();
}

bool VHSimScsiDevice::flashStatus(std::uint8_t *buffer, int length)
{
    std::memset(buffer, 0, size_t(length));
    if (m_busyPolls > 0) {
        buffer[0] = 1;
        --m_busyPolls;
    }
    return true;
}

void VHSimScsiDevice::setState(const QString &key, const QVariant &value)
{
    QSettings state(m_folder + QLatin1Char('/') + VHSimLayout::kDeviceState, QSettings::IniFormat);
    state.setValue(QStringLiteral("State/") + key, value);
}

void VHSimScsiDevice::log(const Command &command, int length, bool ok)
{
    QByteArray line;
    switch (command.opcode) {
    case kInquiry:
        line = "INQUIRY";
        break;
    case kRead10:
        line = "READ";
        break;
    case kWrite10:
        line = "WRITE";
        break;
    default:
        line = "CDB-" + QByteArray::number(command.opcode, 16).rightJustified(2, '0');
        break;
    }
    line += " sel=" + QByteArray::number(command.selector) + " block=" + QByteArray::number(command.block) + " unit="
            + QByteArray::number(command.unit) + " len=" + QByteArray::number(length) + (ok ? " ok\n" : " failed\n");
    m_log.write(line);
    m_log.flush();
}
