#include "VHDeviceFamilies.h"

#include "VHDeviceRegistry.h"
#include "VHFitDevice.h"
#include "VHGalDevice.h"
#include "VHPSFDevice.h"
#include "VHPacer35.h"
#include "VHPacer50CR.h"
#include "VHPacer60.h"
#include "VHPulsar30.h"

namespace VHDeviceFamilies {

namespace {

struct BuiltInRow
{
    const char *code;
    const char *modelName;
    const char *identification;
    const char *role;
};

const char *const kAlder = "VELORA:pacer:Pacer:ALDER Device:ALDER MS:ALDER";
const char *const kAlderMixedCase = "Velora:pacer:Pacer:ALDER Device:ALDER MS:ALDER";

// The built-in model table in its order, which is also the SCSI match's search order.
const BuiltInRow kBuiltInRows[] = {
    {"1207", "Pacer21", kAlder, "gal"},
    {"1206", "Pacer20plus", kAlderMixedCase, "gal"},
    {"1102", "Pacer20", "SYCAMORE", "pulsar30"},
    {"1105", "Pacer40", "LINDEN", "psf"},
    {"1104", "Pacer50CR", kAlderMixedCase, "pacer50cr"},
    {"0901", "Pacer50", kAlderMixedCase, "pacer50cr"},
    {"1103", "Pulsar35", "WILLOW", "pulsar30"},
    {"1004", "Pulsar30", "MAPLE", "pulsar30"},
    {"1003", "Pacer35", "ASPENS", "pacer35"},
    {"1101", "Pacer35", "ASPENS", "pacer35"},
};

} // namespace

VHModelTable builtInModels(const VHDeviceRegistry &registry)
{
    VHModelTable rows;
    for (const BuiltInRow &row : kBuiltInRows) {
        if (const VHDeviceFactory factory = registry.factory(QLatin1String(row.role)))
            rows.append(
                {QLatin1String(row.code), QLatin1String(row.modelName), QLatin1String(row.identification), factory});
    }
    return rows;
}

VHModelTable tableRows()
{
    VHModelTable rows;
    for (const BuiltInRow &row : kBuiltInRows)
        rows.append({QLatin1String(row.code), QLatin1String(row.modelName), QLatin1String(row.identification)});
    return rows;
}

void registerAll()
{
    VHDeviceRegistry &registry = VHDeviceRegistry::instance();
    // Only families with a class in this build register a factory; FIT is
    // reached by the drive scan's rows alone.
    registry.setFactory(VHDeviceRegistry::kFitRole, &vhCreateDevice<VHFitDevice>);
    registry.setFactory(VHDeviceRegistry::kGalRole, &vhCreateDevice<VHGalDevice>);
    registry.setFactory(QStringLiteral("pacer50cr"), &vhCreateDevice<VHPacer50CR>);
    registry.setFactory(VHDeviceRegistry::kPacer60Role, &vhCreateDevice<VHPacer60>);
    registry.setFactory(QStringLiteral("psf"), &vhCreateDevice<VHPSFDevice>);
    registry.setFactory(QStringLiteral("pacer35"), &vhCreateDevice<VHPacer35>);
    registry.setFactory(QStringLiteral("pulsar30"), &vhCreateDevice<VHPulsar30>);
    registry.setBuiltInModels(builtInModels(registry));
}

} // namespace VHDeviceFamilies
