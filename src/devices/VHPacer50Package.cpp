#include "VHPacer50Package.h"

#include "VHUtility.h"

namespace {

// A relative name of an unpacked archive that stays in its folder.
bool staysInside(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QChar(0))
        || name.contains(QLatin1Char('\\')))
        return false;
    for (const QString &part : name.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

QList<qint64> versionParts(const QString &text, bool &ok)
{
    QList<qint64> parts;
    ok = true;
    for (const QString &part : text.split(QLatin1Char('.'))) {
        bool number = false;
        const qint64 value = part.toLongLong(&number);
        // A part that is no number counts as 0, as a plain conversion gives.
        parts.append(number ? value : 0);
        ok = ok && number;
    }
    return parts;
}

} // namespace

VHPacer50Package::VHPacer50Package(const QStringList &files) : m_files(files) { m_releaseIni = topFile(kReleaseIni); }

QString VHPacer50Package::topFile(const QString &name) const
{
    for (const QString &file : m_files) {
        if (file.compare(name, Qt::CaseInsensitive) == 0)
            return file;
    }
    return {};
}

QString VHPacer50Package::refusalFor(const QString &imageName) const
{
    for (const QString &file : m_files) {
        if (!staysInside(file))
            return "the package names a file outside its folder: \"" + file + "\"";
    }
    if (topFile(kChecksums).isEmpty())
        return QStringLiteral("the package has no ") + kChecksums;
    if (!VHUtility::isSafePathComponent(imageName))
        return "the image name can not name a file: \"" + imageName + "\"";
    if (topFile(imageName).isEmpty())
        return "the package has no image \"" + imageName + "\"";
    return {};
}

QString VHPacer50Package::imageFileName(const QString &metaName)
{
    return metaName.isEmpty() ? kDefaultImage : metaName + QStringLiteral(".bin");
}

QByteArray VHPacer50Package::updateIni(qint64 seconds, const QString &imageName)
{
    const QByteArray folder = "/My Disk/" + imageFolderName(seconds).toUtf8() + '/';
    QByteArray text;
    for (const QByteArray &line :
         {QByteArray("[Update.ini]"), QByteArray("Version=02"), QByteArray("[Total]"), QByteArray("Update=true"),
          "Name=" + folder + imageName.toUtf8(), "CRC=" + folder + kChecksums.toUtf8()})
        text += line + "\r\n";
    return text;
}

bool VHPacer50Package::isVersionOlder(const QString &device, const QString &reference)
{
    bool ok = false;
    const QList<qint64> mine = versionParts(device.mid(2), ok);
    const QList<qint64> theirs = versionParts(reference.mid(2), ok);
    const qsizetype count = qMin(mine.size(), theirs.size());
    for (qsizetype i = 0; i < count; ++i) {
        if (mine.at(i) != theirs.at(i))
            return mine.at(i) < theirs.at(i);
    }
    return false;
}

QString VHPacer50Package::minVersion(const QStringList &versions)
{
    if (versions.isEmpty())
        return {};
    QString lowest = versions.first();
    for (qsizetype i = 1; i < versions.size(); ++i) {
        const QString &other = versions.at(i);
        if (other == lowest)
            continue;
        bool ok = false;
        const QList<qint64> a = versionParts(lowest, ok);
        const QList<qint64> b = versionParts(other, ok);
        if (a.size() != b.size())
            return {};
        for (qsizetype j = 0; j < a.size(); ++j) {
            if (a.at(j) != b.at(j)) {
                if (b.at(j) < a.at(j))
                    lowest = other;
                break;
            }
        }
    }
    return lowest;
}

bool VHPacer50Package::splitPair(const QString &text, QString &first, QString &second)
{
    const QStringList parts = text.split(QLatin1Char('^'));
    if (parts.size() != 2)
        return false;
    first = parts.at(0);
    second = parts.at(1);
    return true;
}

QString VHPacer50Package::mapKey(const QString &fileName) { return fileName.section(QLatin1Char('^'), 0, 0); }

bool VHPacer50Package::hasApplicationTree(const QStringList &files)
{
    for (const QString &file : files) {
        if (staysInside(file) && file.startsWith(QLatin1String("nimbra/"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}
