#pragma once

#include "VHSimFaults.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>

// The firmware side of a simulated SCSI device: answers the vendor commands
// against flash files in the device's folder and appends every command to
// its command log. The rules (see also velora-devsim --help):
//
//   INQUIRY (12h)      128 bytes: vendor at 8, product at 16, product tag at 27,
//                      "IAP " + IAP tag at 36, identification text from 44
//   READ(10)  (28h)    byte 6 selects: 03h UUID (the last 16 bytes of the answer),
//                      0Dh internal flash, 10h external flash, 15h flash status
//                      (byte 0: 0 ready, 1 busy), 1Ah IAP notification (remembered)
//   WRITE(10) (2Ah)    byte 6 selects: 18h erase the 4096-byte external sector
//                      given by the block number, 0Ch internal flash, 0Fh external
//                      flash, 0Ah loader flash, 0Eh erase the whole external flash
//                      (busy for `busyPolls` status reads), 01h/00h control: loader
//                      mode / normal mode; after either the device restarts and
//                      does not answer for `rebootCommands` commands
// Flash reads and writes address block number x (transfer length x 512) bytes.
// An external flash write stores the old bytes AND the new ones, as NOR flash
// does: only erased (FFh) cells take the written value. Internal and loader
// flash, which have no erase command, take the written bytes.
// A command outside the flash, with another opcode or selector, or sent while
// the device is unplugged fails. The fault rules of VHSimFaults.h apply; they
// are read again whenever sim.ini changes.
class VHSimScsiDevice
{
public:
    enum Direction { Read = 0, Write = 1 };

    struct Identity
    {
        QByteArray vendor = "VELORA";
        QByteArray product;
        QByteArray productTag; // 4 bytes at offset 27
        QByteArray iapTag = "I001";
        QByteArray identification;
        QByteArray uuid;
        qint64 internalSize = 0x100000;
        qint64 externalSize = 0x200000;
        qint64 loaderSize = 0x10000;
        int busyPolls = 0;
        int rebootCommands = 0;
    };

    // Opens the device folder (its sim.ini and flash files). With a presence
    // path, every command first checks that it still exists (the device is plugged).
    static std::unique_ptr<VHSimScsiDevice> open(const QString &deviceFolder, const QString &presencePath = {});
    static QByteArray inquiryData(const Identity &identity);
    static Identity readIdentity(const QString &deviceFolder);
    static void writeIdentity(const QString &deviceFolder, const Identity &identity);

    bool execute(const std::uint8_t *cdb, int cdbLength, Direction direction, std::uint8_t *buffer, int length);

    const Identity &identity() const { return m_identity; }
    QString folder() const { return m_folder; }

private:
    VHSimScsiDevice() = default;
    struct Command
    {
        std::uint8_t opcode = 0;
        std::uint8_t selector = 0;
        qint64 block = 0;
        qint64 unit = 0;
    };

    bool dispatch(const Command &command, Direction direction, std::uint8_t *buffer, int length);
    bool read10(const Command &command, std::uint8_t *buffer, int length);
    bool write10(const Command &command, const std::uint8_t *buffer, int length);
    bool inquiry(std::uint8_t *buffer, int length);
    bool transfer(QFile &flash, qint64 offset, Direction direction, std::uint8_t *buffer, qint64 length);
    bool fill(QFile &flash, qint64 offset, qint64 length, char value);
    bool erase(qint64 offset, qint64 length);
    bool flashStatus(std::uint8_t *buffer, int length);
    void setState(const QString &key, const QVariant &value);
    void log(const Command &command, int length, bool ok);
    bool isPlugged() const;
    void refreshFaults();
    void vanish();

    QString m_folder;
    QString m_presencePath;
    Identity m_identity;
    QFile m_internal;
    QFile m_external;
    QFile m_loader;
    QFile m_log;
    int m_busyPolls = 0;
    int m_silentCommands = 0; // left while restarting after a mode change
    bool m_loaderMode = false;
    VHSimFaultPlan m_faultPlan;
    QByteArray m_recordStamp; // when sim.ini last changed, to notice new rules
    QByteArray m_fault;       // what a fault did to the current command
    bool m_vanished = false;
};
