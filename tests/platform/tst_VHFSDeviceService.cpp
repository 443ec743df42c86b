#include "VHFSDeviceService.h"
#include "VHScsiCommands.h"
#include "VHTestFiles.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestVHFSDeviceService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    QString writeIdentity(const QByteArray &text)
    {
        const QString path = m_root.path() + QStringLiteral("/device.ini");
        return writeFile(path, text) ? path : QString();
    }

private slots:
    void readsTheUuidAndLeavesTheMarker()
    {
        const QString path = writeIdentity("[UUID]\nUUID=1105AAAABBBBCCCC\n[MODEL]\nModel=Pacer40\n");
        VHFSDeviceService service(m_root.path(), VHModelInfo(), path);
        QString uuid;
        QVERIFY(service.getUUID(uuid));
        QCOMPARE(uuid, QStringLiteral("1105AAAABBBBCCCC"));
        QCOMPARE(service.type(), int(VHDeviceService::DEVICE_FS));
        QSettings ini(path, QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("UUID/VH")).toString(), QStringLiteral("1"));
        QCOMPARE(ini.value(QStringLiteral("MODEL/Model")).toString(), QStringLiteral("Pacer40"));
    }

    void identityWithoutUuidGroupOrFile()
    {
        const QString path = writeIdentity("[MODEL]\nModel=Pacer40\n");
        VHFSDeviceService service(m_root.path(), VHModelInfo(), path);
        QString uuid;
        QVERIFY(!service.getUUID(uuid));
        QVERIFY(uuid.isEmpty());
        VHFSDeviceService none(m_root.path(), VHModelInfo(), QString());
        QVERIFY(!none.getUUID(uuid));
        const QString garbage = writeIdentity(QByteArray("\xff\xfe[UUID\n=\n\0\0UUID", 16));
        VHFSDeviceService broken(m_root.path(), VHModelInfo(), garbage);
        QVERIFY(!broken.getUUID(uuid));
    }

    void secondaryDrive()
    {
        VHFSDeviceService service(QStringLiteral("/media/u/WATCH"), VHModelInfo(), QString());
        QCOMPARE(service.rootPath(), QStringLiteral("/media/u/WATCH"));
        QVERIFY(service.secondaryDrive().isEmpty());
        service.setSecondaryDrive(QStringLiteral("/media/u/MAPS"));
        QCOMPARE(service.secondaryDrive(), QStringLiteral("/media/u/MAPS"));
    }

    void commandBlocks()
    {
        using namespace VHScsiCommands;
        auto bytes = [](const auto &cdb) {
            return QByteArray(reinterpret_cast<const char *>(cdb.data()), int(cdb.size()));
        };
        QCOMPARE(bytes(inquiry()), QByteArray::fromHex("128000008000"));
        QCOMPARE(bytes(eraseBlock(0x1234)), QByteArray::fromHex("2a000000123418000100"));
        QCOMPARE(bytes(writeBlock(65535, 0x21, 4096)), QByteArray::fromHex("2a000000ffff21000800"));
        QCOMPARE(uuidFromAnswer(QByteArray(2032, 'x') + QByteArray("ABCD\0\0\0\0\0\0\0\0\0\0\0\0", 16)),
                 QByteArray("ABCD"));
        QCOMPARE(uuidFromAnswer(QByteArray(5, 'x')), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestVHFSDeviceService)
#include "tst_VHFSDeviceService.moc"
