#include "VHDevctl.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velora-devctl"));
    int code = 0;
    {
        VHDevctl devctl;
        code = devctl.run(QCoreApplication::arguments());
    }
    return code;
}
