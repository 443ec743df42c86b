// Writes the seed corpus of the profile target into <folder>: blocks of every
// binary layout and of the Pacer40 entry list, and settings documents.

#include "VHProfileBuilder.h"

#include <QDir>
#include <QFile>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
        return 1;
    const VHProfileBuilder::Map map = {
        {QStringLiteral("User Sex"), QStringLiteral("1")},
        {QStringLiteral("User Birthday"), QStringLiteral("1990/01/01")},
        {QStringLiteral("User Height.Metric"), QStringLiteral("175.5")},
        {QStringLiteral("User MHR"), QStringLiteral("190")},
        {QStringLiteral("User MHR.zone3.low"), QStringLiteral("120")},
        {QStringLiteral("User Lang"), QStringLiteral("eng")},
        {QStringLiteral("User MLSS"), QStringLiteral("250")},
        {QStringLiteral("Time zone"), QStringLiteral("-3.5")},
        {QStringLiteral("Day night saving"), QStringLiteral("-1")},
        {QStringLiteral("Language ISO3"), QStringLiteral("deu")},
    };
    const QList<QByteArray> seeds = {
        VHProfileBuilder::pacer30Block(1, map),
        VHProfileBuilder::pacer30Block(2, map, char(0xFF)),
        VHProfileBuilder::pacer30Block(3, map),
        VHProfileBuilder::pacer40Block(map),
        VHProfileBuilder::settingsXml(map),
        "<settings a=\"1\"><!-- c --><x>1</x><property name=\"unit system\" value=\"Metric\"/></settings>",
    };
    bool ok = true;
    int written = 0;
    for (const QByteArray &seed : seeds) {
        QFile file(folder + QStringLiteral("/seed%1").arg(++written));
        ok = ok && !seed.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(seed) == seed.size();
    }
    return ok ? 0 : 1;
}
