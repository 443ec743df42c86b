#include "VHClient.h"
#include "VHEnv.h"
#include "VHTestEnv.h"
#include "VHTestFakes.h"
#include "VHTestFiles.h"

#include <QDomDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestVHClientStatus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

    // Runs the batch action and returns the written document.
    QDomDocument runBatch(FakeDevice &device, const QString &out)
    {
        QSignalSpy done(&device, &VHClient::batchDone);
        if (!device.batch(out, QStringLiteral("b"), QStringLiteral("c")) || !done.wait(5000))
            return {};
        const auto data = done.first().first().value<VHClientShareData>();
        if (data.first != out || data.second != QLatin1String("b"))
            return {};
        QFile file(out);
        QDomDocument doc;
        if (file.open(QIODevice::ReadOnly))
            doc.setContent(&file);
        return doc;
    }

    QString path(const QString &name) const { return m_root.path() + QLatin1Char('/') + name; }

private slots:
    void initTestCase() { initTestEnv(m_root.path()); }

    void emptyItemListGivesAnEmptyOverview()
    {
        FakeDevice device;
        QFile::remove(path(QStringLiteral("empty.xml")));
        const QDomDocument doc = runBatch(device, path(QStringLiteral("empty.xml")));
        QCOMPARE(doc.documentElement().tagName(), QStringLiteral("Overview"));
        QVERIFY(!doc.documentElement().hasChildNodes());
        QVERIFY(readFile(path(QStringLiteral("empty.xml"))).startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    }

    void deviceOverviewAndComponents()
    {
        FakeDevice device;
        device.model = QStringLiteral("Pacer40");
        device.imageVersion = QStringLiteral("R030");
        device.apVersion = QStringLiteral("A1");
        device.storageKnown = true;
        device.totalStorage = 1000;
        device.freeStorage = 250;
        device.components = QStringLiteral("E:^1.2|bad|F:^2.0^x|G:^3.1");
        device.addBatchItem(VHClient::BatchDevice);
        device.addBatchItem(VHClient::BatchComponents);
        device.addBatchItem(99); // unknown codes are skipped
        device.addBatchItem(VHClient::BatchDevice);
        const QDomDocument doc = runBatch(device, path(QStringLiteral("overview.xml")));
        const QDomElement root = doc.documentElement();
        QCOMPARE(root.childNodes().size(), 3);
        const QDomElement info = root.firstChildElement(QStringLiteral("Device"));
        QStringList tags, texts;
        for (QDomElement e = info.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            tags << e.tagName();
            texts << e.text();
        }
        QCOMPARE(tags, (QStringList{"model", "uuid", "version_launch", "version_image", "version_ap", "capacity_total",
                                    "capacity_used", "state"}));
        QCOMPARE(texts, (QStringList{"Pacer40", "", "", "R030", "A1", "1000", "750", "READY"}));
        const QDomElement components = root.firstChildElement(QStringLiteral("Components"));
        const QDomNodeList items = components.elementsByTagName(QStringLiteral("item"));
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(1).firstChildElement(QStringLiteral("drive")).text(), QStringLiteral("G:"));
        QCOMPARE(items.at(1).firstChildElement(QStringLiteral("version")).text(), QStringLiteral("3.1"));
        QCOMPARE(items.at(0).firstChildElement(QStringLiteral("name")).text(), QStringLiteral("CYCLEROAD"));
    }

    void unsupportedComponentsGiveAnEmptyElement()
    {
        FakeDevice device;
        device.addBatchItem(VHClient::BatchComponents);
        const QDomDocument doc = runBatch(device, path(QStringLiteral("components.xml")));
        const QDomElement components = doc.documentElement().firstChildElement(QStringLiteral("Components"));
        QVERIFY(!components.isNull());
        QVERIFY(!components.hasChildNodes());
    }

    void languagesAreCopiedIntoTheOverview()
    {
        FakeDevice device;
        device.languages = {QStringLiteral("English"), QStringLiteral("Deutsch & Co")};
        device.addBatchItem(VHClient::BatchLanguages);
        device.addBatchItem(VHClient::BatchProfile); // no profile file: adds nothing
        const QDomDocument doc = runBatch(device, path(QStringLiteral("langs-overview.xml")));
        const QDomElement language = doc.documentElement().firstChildElement(QStringLiteral("Language"));
        QCOMPARE(doc.documentElement().childNodes().size(), 1);
        QCOMPARE(language.elementsByTagName(QStringLiteral("lang")).at(1).toElement().text(),
                 QStringLiteral("Deutsch & Co"));
    }

    void languageListFileIsLiteral()
    {
        FakeDevice device;
        device.languages = {QStringLiteral("English"), QStringLiteral("Chinese Traditional")};
        QVERIFY(device.LanguageListXml(path(QStringLiteral("langs.xml"))));
        QCOMPARE(readFile(path(QStringLiteral("langs.xml"))),
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Language>\n"
                            "<lang>English</lang>\n<lang>Chinese Traditional</lang>\n</Language>"));
        QVERIFY(!device.LanguageListXml(path(QStringLiteral("missing-folder/langs.xml"))));
    }

    void unwritableOutputFailsTheAction()
    {
        FakeDevice device;
        device.addBatchItem(VHClient::BatchDevice);
        QSignalSpy done(&device, &VHClient::batchDone);
        QVERIFY(device.batch(path(QStringLiteral("no/such/folder/out.xml")), QString(), QString()));
        QVERIFY(done.wait(5000));
        int code = 0;
        QVERIFY(device.actionFailed(code));
    }
};

QTEST_GUILESS_MAIN(TestVHClientStatus)
#include "tst_VHClientStatus.moc"
