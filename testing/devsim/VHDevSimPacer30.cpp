#include "VHDevSim.h"

#include "VHPacer30ImageBuilder.h"
#include "VHPacer30Layout.h"
#include "VHProfileData.h"
#include "VHProfileLayout.h"

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

// The 1.0.x profile layout carries the language the Pulsar35 and Pacer20 show.
void setLanguage(QByteArray &flash, const QString &model)
{
    const QByteArray block = flash.mid(VHPacer30Layout::kProfileOffset, VHPacer30Layout::kProfileSize);
    if (VHProfileData::readerTypeFor(model, block) == VHProfileData::Psf_1_0_0)
        flash.replace(VHPacer30Layout::kProfileOffset + VHProfileLayout::kSettingsOffset, 4, QByteArray("eng\0", 4));
}

} // namespace

QByteArray VHDevSim::pacer30Flash(const QString &model, bool uninitialised)
{
    VHPacer30ImageBuilder::Options options;
    options.model = model;
    options.initialised = !uninitialised;
    options.routes = VHPacer30ImageBuilder::sampleRoutes(2);
    options.pois = VHPacer30ImageBuilder::samplePois(2);
    QByteArray flash = VHPacer30ImageBuilder::build(options);
    if (flash.size() == VHPacer30Layout::kFlashSize)
        setLanguage(flash, model);
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
    if (external.size() != VHPacer30Layout::kFlashSize)
        return fail(QStringLiteral("cannot build the external flash"));
    return createScsi(name, identity) && setFlash(name, Flash::External, external)
           && setFlash(name, Flash::Internal, internal);
}
