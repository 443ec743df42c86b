#include "VHPSFBitFont.h"
#include "VHPSFBitFontCreator.h"
#include "VHTestLog.h"

#include <QTest>

class tst_VHPSFBitFontNoGui : public QObject
{
    Q_OBJECT

private slots:
    void renderingFailsWithALogLine()
    {
        LogCapture log;
        int width = 128, height = 16, size = 256;
        QByteArray buffer;
        QVERIFY(!VHPSFBitFont::convertToBitfont(QStringLiteral("Route"), width, height, buffer, size));
        VHPSFBitFontCreatorSupport support;
        QVERIFY(!support.createBitfont(QStringLiteral("Route"), false));
        QCOMPARE(log.count("no GUI application"), 2);
    }
};

QTEST_GUILESS_MAIN(tst_VHPSFBitFontNoGui)
#include "tst_VHPSFBitFontNoGui.moc"
