#include "VHFSDeviceService.h"
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

    // A read of the file that came back damaged is never written back as the device's file.
    void aMarkerIsWrittenOnlyOverTheTextRead_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<bool>("marked");
        const QByteArray clean = "[UUID]\nUUID=1105AAAABBBBCCCC\n[OS]\nVersion=9\n";
        QByteArray damaged = clean;
        damaged[damaged.indexOf("=9") + 1] = char(~'9');
        QTest::newRow("the file as it is") << clean << true;
        QTest::newRow("a byte inverted on the way") << damaged << false;
        QTest::newRow("cut short") << clean.left(30) << false;
    }
    void aMarkerIsWrittenOnlyOverTheTextRead()
    {
        QFETCH(QByteArray, read);
        QFETCH(bool, marked);
        const QByteArray clean = "[UUID]\nUUID=1105AAAABBBBCCCC\n[OS]\nVersion=9\n";
        const QString path = writeIdentity(clean);
        QByteArray bytes = read;
        QCOMPARE(VHFSDeviceService::writeMarker(m_root.path(), path, bytes), marked);
        QCOMPARE(readFile(path), marked ? bytes : clean);
        QCOMPARE(readFile(path).contains("VH=1"), marked);
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
};

QTEST_GUILESS_MAIN(TestVHFSDeviceService)
#include "tst_VHFSDeviceService.moc"
