#include "VHUdevRule.h"

#include <algorithm>

namespace VHUdevRule {

namespace {

// Characters with a meaning in a udev pattern or that would end the quoted value.
bool isPlain(const QString &piece)
{
    for (const QChar c : piece) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E || QStringLiteral("*?[]|\"\\").contains(c))
            return false;
    }
    return true;
}

bool isMatchable(const QString &piece)
{
    return !piece.isEmpty() && piece.size() <= kModelFieldLength && isPlain(piece);
}

QStringList piecesOf(const VHModelInfo &row) { return row.identification.split(QLatin1Char(':'), Qt::SkipEmptyParts); }

QByteArray matchLine(const char *attribute, const QString &piece)
{
    return QByteArrayLiteral("SUBSYSTEMS==\"scsi\", ATTRS{") + attribute + "}==\"*" + piece.toLatin1()
           + "*\", TAG+=\"uaccess\"\n";
}

} // namespace

QStringList matchablePieces(const VHModelTable &rows)
{
    QStringList pieces;
    for (const VHModelInfo &row : rows) {
        for (const QString &piece : piecesOf(row)) {
            if (isMatchable(piece) && !pieces.contains(piece))
                pieces.append(piece);
        }
    }
    return pieces;
}

QStringList unmatchableRows(const VHModelTable &rows)
{
    QStringList names;
    for (const VHModelInfo &row : rows) {
        const QStringList pieces = piecesOf(row);
        if (std::none_of(pieces.begin(), pieces.end(), isMatchable))
            names.append(row.code + QLatin1Char(' ') + row.modelName);
    }
    return names;
}

QByteArray rules(const VHModelTable &rows)
{
    QByteArray text = "# Generated at build time from the model table of VeloraUpdate: do not edit.\n"
                      "# The user at the seat may open the SCSI generic and disk nodes of USB mass-storage\n"
                      "# disks whose INQUIRY vendor or model field holds an identification of a model.\n"
                      "ACTION==\"remove\", GOTO=\"veloraupdate_end\"\n"
                      "SUBSYSTEM==\"scsi_generic\", GOTO=\"veloraupdate_node\"\n"
                      "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"disk\", GOTO=\"veloraupdate_node\"\n"
                      "GOTO=\"veloraupdate_end\"\n"
                      "LABEL=\"veloraupdate_node\"\n"
                      "SUBSYSTEMS==\"usb\", DRIVERS==\"usb-storage|uas\", GOTO=\"veloraupdate_usb\"\n"
                      "GOTO=\"veloraupdate_end\"\n"
                      "LABEL=\"veloraupdate_usb\"\n";
    for (const QString &piece : matchablePieces(rows)) {
        if (piece.size() <= kVendorFieldLength)
            text += matchLine("vendor", piece);
        text += matchLine("model", piece);
    }
    for (const QString &row : unmatchableRows(rows))
        text += "# no identification piece fits the vendor or model field: " + row.toLatin1() + '\n';
    return text + "LABEL=\"veloraupdate_end\"\n";
}

QByteArray modulesLoad()
{
    return "# The SCSI generic driver: its /dev/sg nodes carry the devices' vendor commands.\nsg\n";
}

} // namespace VHUdevRule
