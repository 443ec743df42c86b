// The udev rule built from the model table: the installed file is the
// generator's text for the table, every piece of every row reaches a
// uaccess line through the field udev shows, and other disks do not.

#include "VHDeviceFamilies.h"
#include "VHUdevRule.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

struct Disk
{
    QString subsystem; // "scsi_generic" or "block"
    QString vendor;    // as sysfs shows it: 8 characters, space padded
    QString model;     // 16 characters
    bool usbStorage = true;
};

QString padded(const QString &text, int width) { return text.left(width).leftJustified(width, QLatin1Char(' ')); }

// Reads the generated file the way udev reads our subset of it: the node
// must be a USB mass-storage disk or its sg node, then any match line tags it.
bool grantsAccess(const QByteArray &ruleText, const Disk &disk)
{
    if (disk.subsystem != QLatin1String("scsi_generic") && disk.subsystem != QLatin1String("block"))
        return false;
    if (!ruleText.contains("SUBSYSTEMS==\"usb\", DRIVERS==\"usb-storage|uas\"") || !disk.usbStorage)
        return false;
    static const char *const kMatchLine =
        "^SUBSYSTEMS==\"scsi\", ATTRS\\{(vendor|model)\\}==\"([^\"]*)\", TAG\\+=\"uaccess\"$";
    static const QRegularExpression line(QString::fromLatin1(kMatchLine));
    for (const QString &text : QString::fromLatin1(ruleText).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = line.match(text);
        if (!match.hasMatch())
            continue;
        const QString value = match.captured(1) == QLatin1String("vendor") ? disk.vendor : disk.model;
        const QRegularExpression glob(QRegularExpression::wildcardToRegularExpression(
            match.captured(2), QRegularExpression::UnanchoredWildcardConversion));
        if (QRegularExpression(QLatin1Char('^') + glob.pattern() + QLatin1Char('$')).match(value).hasMatch())
            return true;
    }
    return false;
}

} // namespace

class tst_VHUdevRule : public QObject
{
    Q_OBJECT

private slots:
    void installedFileIsTheTablesRule()
    {
        QFile file(QStringLiteral(VELORA_UDEV_RULE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), VHUdevRule::rules(VHDeviceFamilies::tableRows()));
    }

    void everyRowIsMatchedThroughItsFields()
    {
        const QByteArray rule = VHUdevRule::rules(VHDeviceFamilies::tableRows());
        QVERIFY(VHUdevRule::unmatchableRows(VHDeviceFamilies::tableRows()).isEmpty());
        for (const VHModelInfo &row : VHDeviceFamilies::tableRows()) {
            for (const QString &piece : row.identification.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
                const QString model = padded(piece, VHUdevRule::kModelFieldLength);
                for (const char *subsystem : {"scsi_generic", "block"}) {
                    QVERIFY2(grantsAccess(rule, {QLatin1String(subsystem), padded({}, 8), model}),
                             qPrintable(row.modelName + QLatin1Char(' ') + piece));
                    if (piece.size() <= VHUdevRule::kVendorFieldLength)
                        QVERIFY(grantsAccess(rule, {QLatin1String(subsystem), padded(piece, 8), padded({}, 16)}));
                }
            }
        }
    }

    void otherDisksAndNodesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("subsystem");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("usbStorage");
        QTest::newRow("stick") << "block"
                               << "SanDisk "
                               << "Cruzer Blade    " << true;
        QTest::newRow("sata disk, table vendor") << "block"
                                                 << "VELORA  "
                                                 << "Pacer40         " << false;
        QTest::newRow("tty of a table device") << "tty"
                                               << "VELORA  "
                                               << "Pacer40         " << true;
        QTest::newRow("lower-case vendor") << "scsi_generic"
                                           << "velora  "
                                           << "Disk            " << true;
    }
    void otherDisksAndNodesAreLeftAlone()
    {
        QFETCH(QString, subsystem);
        QFETCH(QString, vendor);
        QFETCH(QString, model);
        QFETCH(bool, usbStorage);
        const QByteArray rule = VHUdevRule::rules(VHDeviceFamilies::tableRows());
        QVERIFY(!grantsAccess(rule, {subsystem, vendor, model, usbStorage}));
    }

    void unplainOrLongPiecesAreNotMatchable()
    {
        const VHModelTable rows{
            {QStringLiteral("9001"), QStringLiteral("Odd"), QStringLiteral("A*B:ThisIsFarTooLongForIt")},
            {QStringLiteral("9002"), QStringLiteral("Fine"), QStringLiteral("x\"y:OK")}};
        QCOMPARE(VHUdevRule::matchablePieces(rows), QStringList{QStringLiteral("OK")});
        QCOMPARE(VHUdevRule::unmatchableRows(rows), QStringList{QStringLiteral("9001 Odd")});
        QVERIFY(!VHUdevRule::rules(rows).contains("A*B"));
    }
};

QTEST_GUILESS_MAIN(tst_VHUdevRule)
#include "tst_VHUdevRule.moc"
