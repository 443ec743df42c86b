// Writes the seed corpus of the PSF store target into <folder>: the journal
// and dist header of builder images (both layouts, several journal states,
// the broken variants), each after a flags byte.

#include "VHPSFStoreBuilder.h"

#include <QDir>
#include <QFile>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
        return 1;
    using namespace VHPSFStoreBuilder;
    int written = 0;
    bool ok = true;
    for (Layout layout : {Layout::A, Layout::B}) {
        for (int fault = int(Fault::None); fault <= int(Fault::WrongCheck); ++fault) {
            for (int slot : {0, 16, 40, 95}) {
                Options options;
                options.layout = layout;
                options.currentSlot = slot;
                options.fault = Fault(fault);
                const char flags = char(0x23 + (slot & 0x0C));
                QFile file(folder + QStringLiteral("/seed%1").arg(++written));
                const QByteArray seed = flags + image(options).left(0x7000);
                ok = ok && file.open(QIODevice::WriteOnly) && file.write(seed) == seed.size();
            }
        }
    }
    return ok ? 0 : 1;
}
