// Writes the udev rule and the modules-load file from the built-in model
// table: velora-udevrule RULEFILE MODULESFILE.

#include "VHDeviceFamilies.h"
#include "VHUdevRule.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

bool writeWhole(const char *path, const QByteArray &content)
{
    QSaveFile file(QFile::decodeName(path));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: velora-udevrule RULEFILE MODULESFILE\n", stderr);
        return 2;
    }
    const VHModelTable rows = VHDeviceFamilies::tableRows();
    if (!writeWhole(argv[1], VHUdevRule::rules(rows)) || !writeWhole(argv[2], VHUdevRule::modulesLoad())) {
        std::fputs("velora-udevrule: cannot write the output files\n", stderr);
        return 1;
    }
    return 0;
}
