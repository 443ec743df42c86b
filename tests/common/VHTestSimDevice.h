#pragma once

// One simulated device in a root of its own, and a family's class attached to
// it, as the device tests call a class directly (no runtime):
//
//   VHTestSimDevice bench;
//   QVERIFY(bench.fresh().createPacer40(bench.name) && bench.sim->plug(bench.name));
//   auto *service = bench.attach(*device, vhTestSimRow("Pacer40"), "I012", "V012");

#include "VHDevSim.h"
#include "VHSimLayout.h"
#include "VHSimSCSIService.h"

#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// The built-in row of a simulated model; `identification` names the images of a restore.
inline VHModelInfo vhTestSimRow(const QString &model, const QString &identification = QString())
{
    static const QHash<QString, QString> codes{{QStringLiteral("Pacer40"), QStringLiteral("1105")},
                                               {QStringLiteral("Pulsar30"), QStringLiteral("1004")},
                                               {QStringLiteral("Pulsar35"), QStringLiteral("1103")},
                                               {QStringLiteral("Pacer20"), QStringLiteral("1102")}};
    return {codes.value(model, QStringLiteral("1101")), model, identification, nullptr};
}

struct VHTestSimDevice
{
    const QString name = QStringLiteral("W");
    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<VHDevSim> sim;

    // A new, empty simulator root.
    VHDevSim &fresh()
    {
        root = std::make_unique<QTemporaryDir>();
        sim = std::make_unique<VHDevSim>(root->path());
        return *sim;
    }

    QByteArray flash(VHDevSim::Flash which) const { return sim->flash(name, which); }
    QStringList commands(const QString &containing) const { return sim->commandLog(name).filter(containing); }

    // Gives `client` the plugged device's SCSI service, waiting without sleeping; nullptr when it can not open.
    template <typename Service = VHSimSCSIService, typename Client>
    Service *attach(Client &client, const VHModelInfo &row, const QByteArray &iapTag, const QByteArray &productTag)
    {
        auto device = VHSimScsiDevice::open(sim->deviceFolder(name), VHSimLayout::scsiLinkPath(root->path(), name));
        if (!device)
            return nullptr;
        auto *service = new Service(std::move(device), row);
        service->setInquiryTags(iapTag, productTag);
        client.setDeviceService(service);
        client.setWait([](int) {});
        return service;
    }
};
