#include "VHSimScsiDevice.h"

#include "VHSimLayout.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

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
    identity.rebootCommands = int(number("rebootCommands", 0));
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
    ini.setValue(QStringLiteral("rebootCommands"), identity.rebootCommands);
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
    device->m_loaderMode =
        VHSimLayout::readSmallIni(base + VHSimLayout::kDeviceState).value(QStringLiteral("State/mode"))
        == QLatin1String("loader");
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
    refreshFaults();
    m_fault.clear();
    if (!m_vanished && m_faultPlan.faults().vanishAfter == 0)
        vanish();
    const bool plugged = !m_vanished && isPlugged();
    const bool flashCommand = command.opcode == kRead10 || command.opcode == kWrite10;
    bool ok = false;
    if (plugged && m_silentCommands > 0) {
        --m_silentCommands;
        m_fault = "restarting";
    } else if (plugged && flashCommand && m_faultPlan.failsNow(command.selector)) {
        m_fault = "fail";
    } else {
        ok = plugged && dispatch(command, direction, buffer, length);
    }
    if (ok && command.opcode == kRead10 && m_faultPlan.corrupt(command.selector, buffer, length))
        m_fault = "corrupt";
    log(command, length, ok);
    if (plugged && m_faultPlan.vanishesNow())
        vanish();
    return ok;
}

void VHSimScsiDevice::refreshFaults()
{
    const QString record = m_folder + QLatin1Char('/') + VHSimLayout::kDeviceRecord;
    const QByteArray stamp = VHSimLayout::fileStamp(record);
    if (stamp == m_recordStamp)
        return;
    m_recordStamp = stamp;
    // Volume rules are the file system's: they do not restart the command count.
    const VHSimFaults faults = VHSimFaults::read(record).withoutVolumeRules();
    if (!(faults == m_faultPlan.faults()))
        m_faultPlan.reset(faults);
}

void VHSimScsiDevice::vanish()
{
    m_vanished = true;
    m_log.write("VANISHED after " + QByteArray::number(m_faultPlan.faults().vanishAfter) + " commands\n");
    m_log.flush();
    // A cable is pulled once: the rule goes, so the next plug works. The
    // file is read again so that its other rules stay as they are.
    const QString record = m_folder + QLatin1Char('/') + VHSimLayout::kDeviceRecord;
    VHSimFaults faults = VHSimFaults::read(record);
    faults.vanishAfter = -1;
    faults.write(record);
    if (!m_presencePath.isEmpty() && QFileInfo(m_presencePath).isSymLink())
        QFile::remove(m_presencePath);
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
        return erase(command.block * kSectorSize, kSectorSize);
    case 0x0C:
        return transfer(m_internal, command.block * command.unit, Write, data, length);
    case 0x0F:
        return transfer(m_external, command.block * command.unit, Write, data, length);
    case 0x0A:
        return transfer(m_loader, command.block * command.unit, Write, data, length);
    case 0x0E:
        m_busyPolls = m_identity.busyPolls;
        return erase(0, m_external.size());
    case 0x01:
    case 0x00:
        m_loaderMode = command.selector == 0x01;
        m_silentCommands = m_identity.rebootCommands;
        setState(QStringLiteral("mode"), m_loaderMode ? QStringLiteral("loader") : QStringLiteral("normal"));
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
    // The firmware erases internal and loader flash pages itself before it
    // programs them (the command set has no erase for them).
    if (&flash != &m_external)
        return flash.write(reinterpret_cast<const char *>(buffer), length) == length && flash.flush();
    // External NOR flash: programming only clears bits, so what was not erased shows through.
    QByteArray cells = flash.read(length);
    if (cells.size() != length || !flash.seek(offset))
        return false;
    for (qint64 i = 0; i < length; ++i)
        cells[i] = char(std::uint8_t(cells[i]) & buffer[i]);
    return flash.write(cells) == length && flash.flush();
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

bool VHSimScsiDevice::erase(qint64 offset, qint64 length)
{
    if (!m_faultPlan.faults().eraseKeepsData)
        return fill(m_external, offset, length, char(0xFF));
    m_fault = "erase-kept";
    return offset >= 0 && length > 0 && offset + length <= m_external.size();
}

bool VHSimScsiDevice::flashStatus(std::uint8_t *buffer, int length)
{
    std::memset(buffer, 0, size_t(length));
    if (m_faultPlan.faults().flashNeverReady) {
        buffer[0] = 1;
        m_fault = "busy";
        return true;
    }
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
            + QByteArray::number(command.unit) + " len=" + QByteArray::number(length) + (ok ? " ok" : " failed");
    if (!m_fault.isEmpty())
        line += " fault=" + m_fault;
    line += '\n';
    m_log.write(line);
    m_log.flush();
}
