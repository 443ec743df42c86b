#include "VHLanguageUpdate.h"

#include "VHEnv.h"
#include "VHLanguageMap.h"
#include "VHLog.h"
#include "VHPSFLanguageImage.h"
#include "VHSafeFolder.h"
#include "VHScsiFlashClient.h"

#include <QDir>
#include <QSet>

#include <algorithm>

namespace {

constexpr qint64 kMaxListingFile = 1024;
constexpr qsizetype kMaxUuid = 64;

VHResult refused(const QString &reason) { return VHResult::failure(VHScsiFlashClient::Failed, reason); }

// The UUID as it may stand in a file name: letters and digits only.
QString fileUuid(const QString &uuid)
{
    QString kept;
    for (const QChar c : uuid) {
        if (c.isLetterOrNumber() && c.unicode() < 0x80)
            kept.append(c);
    }
    return kept.size() <= kMaxUuid ? kept : QString();
}

bool isBlank(const QByteArray &area)
{
    const auto same = [&area](char value) {
        return std::all_of(area.cbegin(), area.cend(), [value](char c) { return c == value; });
    };
    return same(char(0xFF)) || same(char(0));
}

} // namespace

VHLanguageUpdate::Area VHLanguageUpdate::listing(const QByteArray &area, qsizetype directoryReach, QStringList &codes)
{
    codes.clear();
    const qsizetype position = VHPSFLanguageImage::findDirectory(area);
    if (VHPSFLanguageImage::isDirectoryAt(area, position)
        && VHPSFLanguageImage::languageCodes(area, position, VHLanguageMap(), codes, directoryReach))
        return Area::Listed;
    codes.clear();
    return isBlank(area) ? Area::Blank : Area::Unrecognised;
}

QString VHLanguageUpdate::languageCode(const QString &text)
{
    const QString code = text.toLower();
    const bool letters = code.size() == 3 && std::all_of(code.cbegin(), code.cend(), [](QChar c) {
                             return c >= QLatin1Char('a') && c <= QLatin1Char('z');
                         });
    return letters && !VHLanguageMap().name(code).isEmpty() ? code : QString();
}

QStringList VHLanguageUpdate::namedLanguages(const QString &named)
{
    QStringList codes;
    for (const QString &piece : named.split(QLatin1Char(','))) {
        const QString code = languageCode(piece.trimmed());
        if (code.isEmpty() || codes.contains(code))
            return {};
        codes.append(code);
    }
    return codes.size() <= VHPSFLanguageImage::kMaxLanguages ? codes : QStringList();
}

QString VHLanguageUpdate::joinLanguages(const QStringList &codes) { return codes.join(QLatin1Char(',')); }

VHResult VHLanguageUpdate::choose(const Family &family, Area area, const QStringList &onDevice,
                                  const QStringList &stored, const QStringList &named, QStringList &codes)
{
    if (!named.isEmpty())
        codes = named;
    else if (!onDevice.isEmpty())
        codes = onDevice;
    else if (!stored.isEmpty())
        codes = stored; // the listing kept before an interrupted write
    else if (area != Area::Unrecognised)
        codes = {family.defaultLanguage};
    else
        return refused(QStringLiteral("the language area holds no directory that can be read and no listing of its "
                                      "languages was kept: name the language to write"));
    return VHResult::success();
}

VHResult VHLanguageUpdate::run(const Family &family, const QString &uuid, const QString &named)
{
    const QString device = fileUuid(uuid);
    if (device.isEmpty())
        return VHResult::failure(VHScsiFlashClient::NoDevice,
                                 QStringLiteral("the device's UUID is unknown: its languages could not be kept"));
    const QStringList wanted = named.isEmpty() ? QStringList() : namedLanguages(named);
    if (!named.isEmpty() && wanted.isEmpty())
        return refused(QStringLiteral("not a list of up to %1 different language codes: %2")
                           .arg(VHPSFLanguageImage::kMaxLanguages)
                           .arg(named));
    QByteArray area;
    if (!family.readArea(area) || area.size() != family.areaSize)
        return VHResult::failure(VHScsiFlashClient::NoDevice,
                                 QStringLiteral("the language area could not be read: nothing was written"));
    QStringList onDevice, codes;
    const Area state = listing(area, family.directoryReach, onDevice);
    const QStringList stored = storedListing(device);
    if (VHResult chosen = choose(family, state, onDevice, stored, wanted, codes); !chosen)
        return chosen;
    QByteArray image;
    if (VHResult built = family.buildImage(codes, image); !built)
        return built;
    QStringList placed;
    if (listing(image, family.directoryReach, placed) != Area::Listed || placed.isEmpty())
        return VHResult::failure(VHScsiFlashClient::BadPackage,
                                 QStringLiteral("the language pack holds no language files"));
    if (!family.imageToFile && image == area)
        return alreadyThere(device, placed, stored);
    // What the device holds now; with nothing readable, what is about to be written.
    const QStringList kept = !onDevice.isEmpty() ? onDevice : !stored.isEmpty() ? stored : placed;
    if (VHResult keptListing = storeListing(device, kept); !keptListing)
        return keptListing;
    if (!family.writeImage(image))
        return VHResult::failure(VHScsiFlashClient::NotVerified,
                                 QStringLiteral("the language image could not be written and read back equal"));
    // The device is written: a listing not replaced only names its former languages.
    if (!family.imageToFile && placed != kept) {
        if (VHResult written = storeListing(device, placed); !written)
            vhWarning() << written.reason;
    }
    return VHResult::success();
}

VHResult VHLanguageUpdate::alreadyThere(const QString &device, const QStringList &placed, const QStringList &stored)
{
    // The device is not touched; a listing that names other languages would
    // bring them back after a later interrupted write.
    if (stored != placed) {
        if (VHResult kept = storeListing(device, placed); !kept)
            vhWarning() << kept.reason;
    }
    return VHResult::unchanged(QStringLiteral("already up to date: the device holds this language image (")
                               + placed.join(QStringLiteral(", ")) + QLatin1Char(')'));
}

QString VHLanguageUpdate::listingPath(const QString &uuid)
{
    return VHEnv::instance()->dataFolder() + QStringLiteral("/languages-") + fileUuid(uuid) + QStringLiteral(".txt");
}

VHResult VHLanguageUpdate::storeListing(const QString &uuid, const QStringList &codes)
{
    QString error;
    QDir().mkpath(VHEnv::instance()->dataFolder());
    if (!VHSafeFolder::replaceFile(listingPath(uuid), codes.join(QLatin1Char('\n')).toLatin1() + '\n', &error))
        return refused(
            QStringLiteral("the device's language listing could not be kept (%1): nothing was written").arg(error));
    return VHResult::success();
}

QStringList VHLanguageUpdate::storedListing(const QString &uuid)
{
    QByteArray bytes;
    if (!QFileInfo::exists(listingPath(uuid)))
        return {};
    if (!VHSafeFolder::readFileBelow(QString(), listingPath(uuid), kMaxListingFile, bytes)) {
        vhWarning() << "the stored language listing can not be read:" << listingPath(uuid);
        return {};
    }
    QStringList codes = QString::fromLatin1(bytes).split(QLatin1Char('\n'));
    if (codes.value(codes.size() - 1).isEmpty())
        codes.removeLast();
    const bool trusted = !codes.isEmpty() && codes.size() <= VHPSFLanguageImage::kMaxLanguages
                         && QSet<QString>(codes.cbegin(), codes.cend()).size() == codes.size()
                         && std::all_of(codes.cbegin(), codes.cend(), [](const QString &line) {
                                return !line.isEmpty() && languageCode(line) == line;
                            });
    if (!trusted) {
        vhWarning() << "the stored language listing is not trusted:" << listingPath(uuid);
        return {};
    }
    return codes;
}
