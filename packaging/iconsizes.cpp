// Writes the desktop icon in the hicolor theme's sizes:
// velora-iconsizes SOURCE.png OUTDIR SIZE... -> OUTDIR/<SIZE>x<SIZE>/apps/veloraupdate.png

#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fputs("usage: velora-iconsizes SOURCE.png OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[1]));
    if (source.isNull()) {
        std::fprintf(stderr, "velora-iconsizes: can not read %s\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        if (size <= 0 || size > 1024)
            return 2;
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QImage scaled = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) || !scaled.save(folder + QStringLiteral("/veloraupdate.png"), "PNG")) {
            std::fprintf(stderr, "velora-iconsizes: can not write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
