#include "VHInquiry.h"

#include "VHLog.h"
#include "VHScsiCommands.h"

namespace VHInquiry {

namespace {
QByteArray quoted(const QByteArray &text) { return '"' + text + '"'; }
} // namespace

QByteArray read(const Transport &send)
{
    const VHScsiCommands::Cdb6 cdb = VHScsiCommands::inquiry();
    QByteArray answer(VHScsiCommands::kInquiryLength, '\0');
    if (!send(cdb.data(), int(cdb.size()), reinterpret_cast<std::uint8_t *>(answer.data()), int(answer.size())))
        return {};
    return answer;
}

QByteArray printable(const QByteArray &bytes)
{
    QByteArray text = bytes;
    for (char &c : text) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7E)
            c = '.';
    }
    return text;
}

std::optional<VHModelInfo> matchModel(const QByteArray &answer, const VHModelTable &models)
{
    vhDebug() << "ba=" << quoted(printable(answer)).constData();
    for (const VHModelInfo &row : models) {
        const QByteArray signature = row.identification.toLatin1();
        vhDebug() << "image signature=" << quoted(signature).constData();
        if (!signature.isEmpty() && answer.contains(signature))
            return row;
    }
    return std::nullopt;
}

QByteArray iapTag(const QByteArray &answer)
{
    const qsizetype marker = answer.indexOf("IAP I");
    if (marker < 0 || marker + 8 > answer.size())
        return {};
    return answer.mid(marker + 4, 4);
}

QByteArray productTag(const QByteArray &answer)
{
    constexpr qsizetype kOffset = 27;
    if (answer.size() < kOffset + 4)
        return {};
    return answer.mid(kOffset, 4);
}

} // namespace VHInquiry
