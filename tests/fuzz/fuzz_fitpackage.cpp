// Feeds one input as the "release.ini" of a FIT package and plans it against
// device versions taken from the package itself, shifted by one image, so that
// equal, older and newer versions all meet; then checks what the update relies
// on: a refused package has no image, an accepted one only plain file names,
// and the plan is part of the images in their order.

#include "VHFitPackage.h"

#include "VHUtility.h"
#include "fuzz_require.h"

#include <QMap>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const VHFitPackage package(bytes);
    const QList<VHFitPackage::Image> &images = package.images();
    require(package.isValid() == package.refusal().isEmpty());
    require(package.isValid() || images.isEmpty());
    QMap<QString, QString> device;
    for (qsizetype i = 0; i < images.size(); ++i) {
        require(VHUtility::isSafePathComponent(images.at(i).name));
        device.insert(images.at(i).kind, images.at((i + 1) % images.size()).version);
    }
    for (const QMap<QString, QString> &versions : {device, QMap<QString, QString>()}) {
        qsizetype next = 0;
        for (const VHFitPackage::Image &planned : package.plan(versions)) {
            while (next < images.size() && images.at(next).name != planned.name)
                ++next;
            require(next < images.size());
            ++next;
        }
    }
    return 0;
}
