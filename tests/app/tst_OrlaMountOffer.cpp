// The no-device view's offer to mount a USB volume nobody mounted, over the
// simulated platform's drives that are present but unmounted.

#include "OrlaForm.h"
#include "OrlaMountOffer.h"
#include "VHSimLayout.h"
#include "VHSimVolumeMounter.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestOrlaMountOffer : public QObject
{
    Q_OBJECT

    struct Rig
    {
        QTemporaryDir root;
        OrlaForm view{nullptr, false};
        bool deviceShown = false;
        std::unique_ptr<OrlaMountOffer> offer;

        explicit Rig(const QByteArray &driveInfo = {})
        {
            const QString drive = VHSimLayout::unmountedDrivePath(root.path(), QStringLiteral("WATCH"));
            QDir().mkpath(drive + QStringLiteral("/System"));
            if (!driveInfo.isEmpty())
                writeFile(drive + QLatin1Char('/') + VHSimLayout::kDriveInfo, driveInfo);
            offer = std::make_unique<OrlaMountOffer>(std::make_unique<VHSimVolumeMounter>(root.path()), &view,
                                                     [this] { return deviceShown; });
            view.setDevice({}, {}, {});
            view.show();
        }
        QLabel *label() { return view.findChild<QLabel *>(QStringLiteral("mount_label")); }
        QPushButton *button() { return view.findChild<QPushButton *>(QStringLiteral("mount_button")); }
        bool offered() { return label()->isVisible() && button()->isVisible(); }
        bool mounted() { return QFileInfo(root.path() + QStringLiteral("/WATCH/System")).isDir(); }
    };

private slots:
    void offeredOnlyAfterTheVolumeSettled()
    {
        Rig rig("[General]\nlabel=VELORA WATCH\n");
        QVERIFY(!rig.offered());
        QTRY_VERIFY_WITH_TIMEOUT(rig.offered(), OrlaMountOffer::kSettleMs + 3000);
        QVERIFY(rig.label()->text().contains(QStringLiteral("VELORA WATCH")));
        QVERIFY(rig.button()->isEnabled());
        QCOMPARE(rig.button()->text(), QStringLiteral("Mount"));
        // Offering mounts nothing.
        QTest::qWait(200);
        QVERIFY(!rig.mounted());
        const QString shots = qEnvironmentVariable("VELORA_SHOTS");
        if (!shots.isEmpty())
            QVERIFY(rig.view.grab().save(shots + QStringLiteral("/08-unmounted-volume.png")));
    }

    void clickMountsTheVolume()
    {
        Rig rig;
        // Not while a device is shown.
        rig.deviceShown = true;
        rig.offer->check();
        QVERIFY(!rig.offered());
        rig.deviceShown = false;
        rig.offer->check();
        QVERIFY(rig.offered());
        QTest::mouseClick(rig.button(), Qt::LeftButton);
        QVERIFY(rig.offer->mounting());
        QVERIFY(!rig.button()->isEnabled());
        QTRY_VERIFY(!rig.offer->mounting());
        QVERIFY(rig.mounted());
        QVERIFY(!rig.offered());
        rig.offer->check();
        QVERIFY(!rig.offered());
    }

    void refusalIsShownInTheWindow()
    {
        Rig rig("[General]\nmountRefusal=Not authorized to perform operation\n");
        rig.offer->check();
        QTest::mouseClick(rig.button(), Qt::LeftButton);
        QTRY_VERIFY(!rig.offer->mounting());
        QVERIFY(!rig.mounted());
        QVERIFY(rig.offered());
        QVERIFY(rig.label()->text().contains(QStringLiteral("Not authorized to perform operation")));
        QVERIFY(rig.button()->isEnabled());
        // A device change that leaves the volume where it is keeps the reason in view.
        rig.offer->check();
        QVERIFY(rig.label()->text().contains(QStringLiteral("Not authorized")));
    }

    void onlyPlainFolderNamesAreMounted()
    {
        Rig rig;
        VHSimVolumeMounter mounter(rig.root.path());
        QSignalSpy finished(&mounter, &VHVolumeMounter::mountFinished);
        for (const QString &node : {QStringLiteral("../WATCH"), QStringLiteral(".."), QStringLiteral("NONE")})
            mounter.mount(node);
        QTRY_COMPARE(finished.size(), 3);
        for (const QList<QVariant> &answer : std::as_const(finished))
            QVERIFY(!answer.at(1).toBool());
        QVERIFY(!rig.mounted());
    }
};

QTEST_MAIN(TestOrlaMountOffer)
#include "tst_OrlaMountOffer.moc"
