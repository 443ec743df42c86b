#include "PlatformTestSupport.h"
#include "VHInquiry.h"
#include "VHLinuxSCSIService.h"
#include "VHScsiCommands.h"
#include "VHSgIo.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(i % 251);
    return data;
}

// An ioctl stand-in: counts calls and lets each test decide the outcome.
struct FakeIoctl
{
    int calls = 0;
    std::function<int(sg_io_hdr_t *, int call)> answer;
    QList<QByteArray> cdbs;

    VHSgIo::IoctlFunction function()
    {
        return [this](int, sg_io_hdr_t *header) {
            ++calls;
            cdbs.append(QByteArray(reinterpret_cast<const char *>(header->cmdp), header->cmd_len));
            return answer ? answer(header, calls) : 0;
        };
    }
};

// CHECK CONDITION with fixed-format sense data of that key (6: UNIT ATTENTION).
void setCheckCondition(sg_io_hdr_t *header, std::uint8_t senseKey = 0x06)
{
    header->status = 0x02;
    header->driver_status = 0x08;
    auto *sense = static_cast<std::uint8_t *>(header->sbp);
    sense[0] = 0x70;
    sense[2] = senseKey;
    header->sb_len_wr = 18;
}

// A descriptor that is valid but never reached: the fake ioctl answers instead.
int openNull() { return ::open("/dev/null", O_RDWR | O_CLOEXEC); }

} // namespace

class TestVHScsiProtocol : public QObject
{
    Q_OBJECT

    int m_fd = -1;

private slots:
    void init() { m_fd = openNull(); }
    void cleanup() { ::close(m_fd); }

    void commandBlocksAreBigEndian()
    {
        using namespace VHScsiCommands;
        const auto bytes = [](const auto &cdb) {
            return QByteArray(reinterpret_cast<const char *>(cdb.data()), int(cdb.size()));
        };
        QCOMPARE(bytes(uuidRead()), hex("28000000000003000400"));
        QCOMPARE(bytes(eraseBlock(0)), hex("2a000000000018000100"));
        QCOMPARE(bytes(eraseBlock(256)), hex("2a000000010018000100"));
        QCOMPARE(bytes(writeBlock(0x0102, 15, 4096)), hex("2a0000000102"
                                                          "0f000800"));
        QCOMPARE(bytes(readBlock(300, 16, 4096)), hex("28000000012c10000800"));
        QCOMPARE(bytes(writeBlock(7, 12, 2048)), hex("2a00000000070c000400"));
        QCOMPARE(bytes(writeBlock(65535, 0x21, 4096)), hex("2a000000ffff21000800"));
        QCOMPARE(bytes(inquiry()), hex("128000008000"));
        QCOMPARE(uuidFromAnswer(QByteArray(2032, 'x') + QByteArray("ABCD\0\0\0\0\0\0\0\0\0\0\0\0", 16)),
                 QByteArray("ABCD"));
        QCOMPARE(uuidFromAnswer(QByteArray(5, 'x')), QByteArray());
    }

    void exactMultipleSendsNoTail()
    {
        FakeSCSIService service;
        const QByteArray data = pattern(4096 * 3);
        QVERIFY(service.writeFlashBlocks(data, 15, data.size(), 4096, 2));
        QCOMPARE(service.commands.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(service.commands[i].cdb, QByteArray::fromHex("2a00000000") + char(2 + i) + hex("0f000800"));
            QCOMPARE(service.commands[i].data, data.mid(i * 4096, 4096));
        }
        QCOMPARE(service.opens, 1);
        QCOMPARE(service.closes, 1);
    }

    void tailBlockIsPaddedWithFF()
    {
        FakeSCSIService service;
        const QByteArray data = pattern(1000);
        QVERIFY(service.writeFlashBlocks(data, 15, 1000, 512, 0x1FF));
        QCOMPARE(service.commands.size(), 2);
        QCOMPARE(service.commands[0].cdb, hex("2a00000001ff0f000100"));
        QCOMPARE(service.commands[0].data, data.left(512));
        QCOMPARE(service.commands[1].cdb, hex("2a00000002000f000100"));
        QCOMPARE(service.commands[1].data, data.mid(512) + QByteArray(24, char(0xFF)));
    }

    void shortWritesAndErases()
    {
        FakeSCSIService small;
        QVERIFY(!small.writeFlashBlocks(pattern(100), 15, 100, 512, 0));
        QVERIFY(small.commands.isEmpty());

        FakeSCSIService erase;
        QVERIFY(erase.eraseFlashBlocks(1, 4096, 5));
        QCOMPARE(erase.commands.size(), 1);
        QCOMPARE(erase.commands[0].cdb, hex("2a000000000518000100"));
        QCOMPARE(erase.commands[0].data, QByteArray(512, '\0'));

        FakeSCSIService none;
        QVERIFY(!none.eraseFlashBlocks(0, 4096, 0));
        QVERIFY(none.commands.isEmpty());
        // A size beyond the caller's bytes writes only what is there.
        FakeSCSIService clamped;
        QVERIFY(clamped.writeFlashBlocks(pattern(600), 15, 5000, 512, 0));
        QCOMPARE(clamped.commands.size(), 2);
        QCOMPARE(clamped.commands[1].data, pattern(600).mid(512) + QByteArray(424, char(0xFF)));
    }

    void failuresStopWithTheirLogLines()
    {
        LogCapture log;
        FakeSCSIService service;
        service.failAtCommand = 2;
        QVERIFY(!service.writeFlashBlocks(pattern(4096 * 4), 15, 4096 * 4, 4096, 10));
        QCOMPARE(service.commands.size(), 2);
        QVERIFY(log.contains(QStringLiteral("write client failed at loop  11")));
        FakeSCSIService erase;
        erase.failAtCommand = 3;
        QVERIFY(!erase.eraseFlashBlocks(4096 * 8, 4096, 0));
        QCOMPARE(erase.commands.size(), 3);
        QVERIFY(log.contains(QStringLiteral("erase client failed at loop  2")));
        FakeSCSIService closed;
        closed.openSucceeds = false;
        QVERIFY(!closed.writeFlashBlocks(pattern(4096), 15, 4096, 4096, 0));
        QVERIFY(!closed.eraseFlashBlocks(4096, 4096, 0));
        QVERIFY(closed.commands.isEmpty());
        QVERIFY(log.contains(QStringLiteral("open client failed")));
    }

    void unaddressableBlocksAreRefusedBeforeAnyCommand()
    {
        LogCapture log;
        FakeSCSIService service;
        // Block 65536 would be sent as block 0 and overwrite the start of the flash.
        QVERIFY(!service.writeFlashBlocks(pattern(8192), 15, 8192, 4096, 65535));
        QVERIFY(!service.eraseFlashBlocks(4096 * 2, 4096, 65535));
        QVERIFY(!service.writeFlashBlocks(pattern(4096), 15, 4096, 1000, 0));
        QVERIFY(!service.writeFlashBlocks(pattern(4096), 15, 4096, 4096, -1));
        QVERIFY(service.commands.isEmpty());
        QCOMPARE(service.opens, 0);
        QVERIFY(log.contains(QStringLiteral("blocks out of range")));
        QVERIFY(service.writeFlashBlocks(pattern(4096), 15, 4096, 4096, 65535));
        QCOMPARE(service.commands.first().cdb, hex("2a000000ffff0f000800"));
    }

    void uuidIsTheEndOfTheVendorRead()
    {
        FakeSCSIService service;
        service.answer = QByteArray("2101A1B2C3D4E5F6");
        QString uuid;
        QVERIFY(service.getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("2101A1B2C3D4E5F6"));
        QCOMPARE(service.commands.first().cdb, hex("28000000000003000400"));
        service.answer = QByteArray(16, '\0');
        QVERIFY(!service.getUUID(uuid));
    }

    void requestLayout()
    {
        const std::uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 3, 0, 4, 0};
        std::uint8_t buffer[2048];
        VHSgIo::Request request;
        VHSgIo::build(request, VHSgIo::Read, cdb, 10, buffer, sizeof buffer);
        const sg_io_hdr_t &h = request.header;
        QCOMPARE(h.interface_id, int('S'));
        QCOMPARE(h.dxfer_direction, SG_DXFER_FROM_DEV);
        QCOMPARE(int(h.cmd_len), 10);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(h.cmdp), 16),
                 hex("28000000000003000400") + QByteArray(6, '\0'));
        QCOMPARE(h.dxferp, static_cast<void *>(buffer));
        QCOMPARE(h.dxfer_len, 2048u);
        QCOMPARE(h.timeout, 10000u);
        QCOMPARE(int(h.mx_sb_len), VHSgIo::kSenseLength);
        QCOMPARE(h.sbp, request.sense.data());
        QCOMPARE(h.flags, 0u);
        QCOMPARE(h.iovec_count, 0);

        const std::uint8_t write[10] = {0x2A, 0, 0, 0, 1, 2, 15, 0, 8, 0};
        VHSgIo::Request out;
        VHSgIo::build(out, VHSgIo::Write, write, 10, buffer, 4096);
        QCOMPARE(out.header.dxfer_direction, SG_DXFER_TO_DEV);
        QCOMPARE(out.header.dxfer_len, 4096u);
    }

    void refusalsHappenBeforeAnyIoctl()
    {
        FakeIoctl ioctl;
        std::uint8_t buffer[64] = {};
        const std::uint8_t cdb[17] = {0x28};
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 17, buffer, 64, nullptr, 0, ioctl.function()));
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 0, buffer, 64, nullptr, 0, ioctl.function()));
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 2, cdb, 10, buffer, 64, buffer, 64, ioctl.function()));
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 10, nullptr, 64, nullptr, 0, ioctl.function()));
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 1, cdb, 10, buffer, 64, buffer, 0, ioctl.function()));
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 1, cdb, 10, nullptr, 0, nullptr, 64, ioctl.function()));
        QCOMPARE(ioctl.calls, 0);
        QVERIFY(VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 16, buffer, 64, nullptr, 0, ioctl.function()));
        QCOMPARE(ioctl.calls, 1);
    }

    void invalidHandleAndIoctlFailures()
    {
        LogCapture log;
        FakeIoctl ioctl;
        std::uint8_t buffer[512] = {};
        const std::uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 0x1A, 0, 1, 0};
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(-1, 0, 1, 0, 0, cdb, 10, buffer, 512, nullptr, 0, ioctl.function()));
        QCOMPARE(ioctl.calls, 0);
        QVERIFY(log.contains(QStringLiteral("Open SCSI device failed")));

        ioctl.answer = [](sg_io_hdr_t *, int) {
            errno = EIO;
            return -1;
        };
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 10, buffer, 512, nullptr, 0, ioctl.function()));
        QVERIFY(log.contains(QStringLiteral("SG_IO failed:  5")));

        ioctl.answer = [](sg_io_hdr_t *h, int) {
            h->host_status = 0x03; // timed out
            return 0;
        };
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 10, buffer, 512, nullptr, 0, ioctl.function()));
        QVERIFY(log.contains(QStringLiteral("SCSI command timed out")));

        ioctl.answer = [](sg_io_hdr_t *h, int) {
            h->driver_status = 0x04; // DRIVER_ERROR
            return 0;
        };
        QVERIFY(!VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 10, buffer, 512, nullptr, 0, ioctl.function()));
    }

    void scsiStatusIsNotExamined()
    {
        FakeIoctl ioctl;
        std::uint8_t buffer[512] = {};
        const std::uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0x18, 0, 1, 0};
        // CHECK CONDITION with an ILLEGAL REQUEST sense: the transport worked.
        ioctl.answer = [](sg_io_hdr_t *h, int) {
            setCheckCondition(h, 0x05);
            return 0;
        };
        QVERIFY(VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 1, cdb, 10, nullptr, 0, buffer, 512, ioctl.function()));
        QCOMPARE(ioctl.calls, 1);
    }

    void unitAttentionIsRetriedOnce()
    {
        FakeIoctl ioctl;
        std::uint8_t buffer[8] = {};
        const std::uint8_t cdb[6] = {0x12, 0x80, 0, 0, 0x80, 0};
        ioctl.answer = [](sg_io_hdr_t *h, int call) {
            if (call == 1) {
                setCheckCondition(h);
                std::memset(h->dxferp, 0xEE, h->dxfer_len);
            }
            return 0;
        };
        QVERIFY(VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 6, buffer, 8, nullptr, 0, ioctl.function()));
        QCOMPARE(ioctl.calls, 2);
        QCOMPARE(ioctl.cdbs[1], hex("128000008000"));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 8), QByteArray(8, '\0'));
        // Only one retry: a device that keeps reporting it is answered once more and left.
        ioctl.calls = 0;
        ioctl.answer = [](sg_io_hdr_t *h, int) {
            setCheckCondition(h);
            return 0;
        };
        // Whatever the second answer reports, no third attempt follows.
        (void)VHSgIo::SendSCSICommandToDevice(m_fd, 0, 1, 0, 0, cdb, 6, buffer, 8, nullptr, 0, ioctl.function());
        QCOMPARE(ioctl.calls, 2);
    }

    void senseKeysOfBothFormats()
    {
        const std::uint8_t fixed[18] = {0x70, 0, 0x06};
        const std::uint8_t descriptor[8] = {0x72, 0x06};
        const std::uint8_t garbage[4] = {0x12, 0x34, 0x56, 0x78};
        QCOMPARE(VHSgIo::senseKey(fixed, 18), 6);
        QCOMPARE(VHSgIo::senseKey(descriptor, 8), 6);
        QCOMPARE(VHSgIo::senseKey(garbage, 4), -1);
        QCOMPARE(VHSgIo::senseKey(fixed, 2), -1);
        QCOMPARE(VHSgIo::senseKey(nullptr, 18), -1);
    }

    void linuxServiceUsesItsHandles()
    {
        LogCapture log;
        FakeIoctl ioctl;
        VHLinuxSCSIService none{VHFileOps::UniqueFd(), VHModelInfo(), QStringLiteral("/dev/sg9")};
        none.setIoctlFunction(ioctl.function());
        const std::uint8_t cdb[10] = {0x2A, 0, 0, 0, 0, 0, 0x0F, 0, 8, 0};
        std::uint8_t data[4096] = {};
        QVERIFY(!none.writeClient(cdb, 10, data, 4096));
        QVERIFY(log.contains(QStringLiteral("invalid handle")));
        QVERIFY(!none.readClient(cdb, 10, data, 4096));
        QCOMPARE(ioctl.calls, 0);

        // Reads fall back to the secondary handle; writes never do.
        VHLinuxSCSIService secondary{VHFileOps::UniqueFd(), VHModelInfo(), QStringLiteral("/dev/sg9"),
                                     VHFileOps::UniqueFd(openNull())};
        secondary.setIoctlFunction(ioctl.function());
        std::memset(data, 0xAB, sizeof data);
        QVERIFY(secondary.readClient(cdb, 10, data, 4096));
        QCOMPARE(ioctl.calls, 1);
        QCOMPARE(data[100], 0); // zeroed before the read
        QVERIFY(!secondary.writeClient(cdb, 10, data, 4096));
        QCOMPARE(ioctl.calls, 1);
        QCOMPARE(secondary.type(), int(VHDeviceService::DEVICE_SCSI));
    }

    void inquiryMatchingAndTags()
    {
        QByteArray answer(128, '\0');
        answer.replace(8, 8, "VELORA  ");
        answer.replace(16, 16, "Pacer40    0105 ");
        answer.replace(36, 8, "IAP I002");
        answer.replace(44, 6, "LINDEN");
        const VHModelTable models{
            {QStringLiteral("0000"), QStringLiteral("Empty"), QString(), nullptr},
            {QStringLiteral("1105"), QStringLiteral("Pacer40"), QStringLiteral("LINDEN"), nullptr},
            {QStringLiteral("1106"), QStringLiteral("Later"), QStringLiteral("VELORA"), nullptr}};
        const std::optional<VHModelInfo> row = VHInquiry::matchModel(answer, models);
        QVERIFY(row);
        QCOMPARE(row->modelName, QStringLiteral("Pacer40"));
        QCOMPARE(VHInquiry::iapTag(answer), QByteArray("I002"));
        QCOMPARE(VHInquiry::productTag(answer), QByteArray("0105"));
        QVERIFY(!VHInquiry::matchModel(QByteArray(128, '\0'), models));
        // An answer cut short: the tags are simply absent.
        QCOMPARE(VHInquiry::iapTag(answer.left(40)), QByteArray());
        QCOMPARE(VHInquiry::productTag(answer.left(30)), QByteArray());
        QCOMPARE(VHInquiry::printable(QByteArray("A\0B\xff", 4)), QByteArray("A.B."));
    }

    // Every scan reads INQUIRY through the one helper: the command block and length it sends, what it returns.
    void inquiryRead_data()
    {
        QTest::addColumn<bool>("sent");
        QTest::newRow("answered") << true;
        QTest::newRow("transport failed") << false;
    }
    void inquiryRead()
    {
        QFETCH(bool, sent);
        QByteArray command;
        const QByteArray answer =
            VHInquiry::read([&](const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) {
                command = QByteArray(reinterpret_cast<const char *>(cdb), cdbLength);
                std::fill(buffer, buffer + length, std::uint8_t('V'));
                return sent;
            });
        QCOMPARE(command.toHex(), QByteArray("128000008000"));
        QCOMPARE(answer, sent ? QByteArray(128, 'V') : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestVHScsiProtocol)
#include "tst_VHScsiProtocol.moc"
