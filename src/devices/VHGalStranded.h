#pragma once

#include "VHModelInfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class VHDeviceService;
class VHPlatform;
class VHSCSIDeviceService;

// A GAL device waiting in IAP mode that no first pass of this run sent there
// (found at start, or plugged later). Nothing in the model table names it:
// only a first pass of the same run registers its identity. Every front end
// finds it, tells what it is and adopts it here.
class VHGalStranded
{
public:
    // What every device in IAP mode answers in its INQUIRY.
    static inline const QString kIapMarker = QStringLiteral("IAP I");

    struct Device
    {
        QString uuid;
        QString identification; // the text the device announces in IAP mode
        QString productModel;   // the INQUIRY product field, which names the model on the devices we know
    };

    // The rows a SCSI scan for such devices uses: the known rows first, so a
    // device in service still matches its own.
    static VHModelTable scanRows(const VHModelTable &known);
    // True for a service found by the marker row of scanRows().
    static bool isStranded(const VHDeviceService &service);
    static Device identify(VHSCSIDeviceService &service);
    // The same through a service the caller has opened.
    static Device identifyOpen(VHSCSIDeviceService &service);
    // The text after "IAP " and the 4-byte tag, else the product field.
    static QString iapIdentification(const QByteArray &inquiry);
    static QString productModel(const QByteArray &inquiry);

    // The GAL models of the built-in table, in its order, once each.
    static QStringList galModels();
    // The model the first pass stored for the device; empty when none.
    static QString storedModel(const QString &uuid);
    // The model to adopt the device as: the one named, else the stored one,
    // else the product field.
    static QString modelFor(const Device &device, const QString &named);
    // The row that makes a device manager create the GAL object for it;
    // without a factory when the device or the model says too little.
    static VHModelInfo rowFor(const Device &device, const QString &model);

    struct Waiting
    {
        Device device;
        VHModelInfo row; // as rowFor() with modelFor() of no name
    };
    // Every device in IAP mode that no row of `known` names. Sends INQUIRY
    // to each SCSI device and reads the data folder: not for a GUI thread.
    static QList<Waiting> findWaiting(VHPlatform &platform, const VHModelTable &known);
};
