#include "VHDevSim.h"

#include "VHPSFLanguageImage.h"
#include "VHPSFLayout.h"
#include "VHPSFRecord.h"
#include "VHPacer30Layout.h"
#include "VHProfileLayout.h"
#include "VHProfilePack.h"

#include <QHash>

namespace {

struct ModelRow
{
    const char *code;
    const char *identification;
};

const QHash<QString, ModelRow> &modelRows()
{
    static const QHash<QString, ModelRow> rows = {
        {QStringLiteral("Pacer30"), {"1003", "ASPENS"}},   {QStringLiteral("Pacer35"), {"1101", "ASPENS"}},
        {QStringLiteral("Pulsar30"), {"1004", "MAPLE"}},   {QStringLiteral("Pulsar35"), {"1103", "WILLOW"}},
        {QStringLiteral("Pacer20"), {"1102", "SYCAMORE"}},
    };
    return rows;
}

// The user record's place and the model's set-up byte.
bool writeProfile(QByteArray &block, const QString &model, bool uninitialised)
{
    qsizetype user = VHProfileLayout::kUser_1_0_0;
    qsizetype setUp = VHProfileLayout::kFirstUseFlag;
    if (model == QLatin1String("Pacer30") || model == QLatin1String("Pacer35")) {
        user = VHProfileLayout::kUserObsolete;
        setUp = 967;
    } else if (model == QLatin1String("Pulsar30")) {
        user = VHProfileLayout::kUserObsoletePulsar30;
        setUp = 886;
    } else {
        block[VHProfileLayout::kLayoutVersionOffset] = 1;
        block[VHProfileLayout::kLayoutVersionOffset + 1] = 0;
        block[VHProfileLayout::kLayoutVersionOffset + 2] = 0;
        QByteArray lang("eng");
        block.replace(VHProfileLayout::kSettingsOffset, 4, lang.append('\0'));
    }
    // sex, age, carried, height m/i, weight m/i, maximum heart rate
    block[setUp] = uninitialised ? 0 : 1;
    return VHProfilePack::pack(block, user, VHProfileLayout::kUserFormat, {1, 30, 0, 180, 71, 75, 165, 190});
}

} // namespace

QByteArray VHDevSim::pacer30Flash(const QString &model, bool uninitialised)
{
    QByteArray flash(VHPacer30Layout::kFlashSize, char(0xFF));
    // One sealed management record in the first slot; regions empty.
    QByteArray record(VHPSFLayout::kSlotSize, '\0');
    record[0] = char(0x55);
    record[1] = char(0xAA);
    flash.replace(0, record.size(), record);
    QByteArray profile(VHPacer30Layout::kProfileSize, '\0');
    if (!VHPSFRecord::seal(flash, 0) || !writeProfile(profile, model, uninitialised))
        return {};
    flash.replace(VHPacer30Layout::kProfileOffset, profile.size(), profile);
    return flash;
}

bool VHDevSim::createPacer30(const QString &name, const VHSimPacer30Options &options)
{
    const auto row = modelRows().constFind(options.model);
    if (row == modelRows().constEnd())
        return fail(QStringLiteral("not a model of the family: ") + options.model);
    ScsiIdentity identity;
    identity.product = options.model.toLatin1();
    identity.productTag = options.productTag;
    identity.iapTag = options.iapTag;
    identity.identification = row->identification;
    identity.uuid = options.uuid.isEmpty() ? QByteArray(row->code) + "A1B2C3D4E5F6" : options.uuid;
    identity.internalSize = 0x100000;
    identity.externalSize = VHPacer30Layout::kFlashSize;
    identity.rebootCommands = options.rebootCommands;
    QByteArray internal = pacer40LanguageArea(options.productTag, {QStringLiteral("eng"), QStringLiteral("deu")});
    if (internal.size() < VHPacer30Layout::kLanguageImageSize)
        return fail(QStringLiteral("cannot build the language area"));
    internal.resize(VHPacer30Layout::kLanguageImageSize);
    internal.append(QByteArray(identity.internalSize - internal.size(), char(0xFF)));
    const QByteArray external = pacer30Flash(options.model, options.uninitialised);
    if (external.isEmpty())
        return fail(QStringLiteral("cannot build the external flash"));
    return createScsi(name, identity) && setFlash(name, Flash::External, external)
           && setFlash(name, Flash::Internal, internal);
}
