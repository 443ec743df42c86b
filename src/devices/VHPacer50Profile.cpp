// The Pacer50 family's profile: the core application's settings files.

#include "VHPacer50.h"

#include "VHLog.h"
#include "VHProfileReader.h"
#include "VHVolumeSync.h"

namespace {

const QString kCoreFolder = QStringLiteral("nimbra/applications/core");
const QString kUserSettings = QStringLiteral("user_settings.xml");
const QString kDefaultSettings = QStringLiteral("default_settings.xml");
const QString kUnitSystem = QStringLiteral("unit system");
const QString kDistanceUnit = QStringLiteral("Dst Unit");
constexpr qsizetype kMaxUnitText = 32;

QStringList profileKeys()
{
    QStringList keys = {kUnitSystem,
                        kDistanceUnit,
                        QStringLiteral("System Language"),
                        QStringLiteral("User Name"),
                        QStringLiteral("User Sex"),
                        QStringLiteral("User Birthday"),
                        QStringLiteral("User Height.Metric"),
                        QStringLiteral("User Weight.Metric")};
    for (const char *base : {"User LTHR", "User MHR", "User MAP", "User FTP"}) {
        keys.append(QString::fromLatin1(base));
        for (int zone = 1; zone <= 7; ++zone)
            for (const char *end : {"low", "high"})
                keys.append(QStringLiteral("%1.zone%2.%3").arg(QLatin1String(base)).arg(zone).arg(QLatin1String(end)));
    }
    return keys;
}

// "Metric" or "Imperial" in any case, spelt as the device shows it; else empty.
QString unitSystem(const QString &text)
{
    for (const char *unit : {"Metric", "Imperial"})
        if (text.compare(QLatin1String(unit), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(unit);
    return {};
}

bool isUnitText(const QString &text)
{
    return !text.isEmpty() && text.size() <= kMaxUnitText
           && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

// A settings file of the core folder; a missing one holds nothing, one that
// is no settings document (or a link, a folder, too large) is refused.
bool readSettings(VHSafeFolder &folder, const QString &name, VHProfileMap &map)
{
    if (folder.kindOf(name) == VHSafeFolder::Kind::Missing)
        return true;
    QByteArray bytes;
    return folder.readFile(name, VHProfileReaderXML::kMaxFileSize, bytes) && VHProfileReaderXML::parse(bytes, map);
}

// The settings file `name` with `changes` applied, everything else kept; a
// new document when the file is missing.
bool updatedSettings(VHSafeFolder &folder, const QString &name, const VHProfileMap &changes, QByteArray &document)
{
    if (folder.kindOf(name) == VHSafeFolder::Kind::Missing) {
        document = VHProfileReaderXML::document(changes);
        return !document.isEmpty();
    }
    QByteArray bytes;
    return folder.readFile(name, VHProfileReaderXML::kMaxFileSize, bytes)
           && VHProfileReaderXML::update(bytes, changes, document);
}

} // namespace

bool VHPacer50::getProfile(QMap<QString, QString> &profile)
{
    profile.clear();
    const QString root = rootPath();
    VHSafeFolder core = VHSafeFolder::open(root, kCoreFolder, VHSafeFolder::FatNames);
    VHProfileMap defaults;
    VHProfileMap user;
    if (root.isEmpty() || !core.isValid() || !readSettings(core, kUserSettings, user)) {
        vhWarning() << "getProfile: no readable user settings below" << root;
        return false;
    }
    if (!readSettings(core, kDefaultSettings, defaults)) {
        vhWarning() << "getProfile: the default settings are unreadable";
        defaults.clear();
    }
    defaults.insert(user);
    for (const QString &key : profileKeys())
        if (defaults.contains(key))
            profile.insert(key, defaults.value(key));
    if (profile.contains(kUnitSystem))
        profile.insert(kUnitSystem, unitSystem(profile.value(kUnitSystem)));
    return true;
}

bool VHPacer50::saveProfile(const QByteArray &bytes)
{
    VHProfileMap given;
    if (!VHProfileReaderXML::readSettings(bytes, given)) {
        vhCritical() << "saveProfile: no profile settings given";
        return false;
    }
    VHProfileMap changes;
    if (given.contains(kUnitSystem))
        changes.insert(kUnitSystem, unitSystem(given.value(kUnitSystem)));
    if (given.contains(kDistanceUnit))
        changes.insert(kDistanceUnit, given.value(kDistanceUnit));
    if (changes.isEmpty() || changes.value(kUnitSystem, QStringLiteral("Metric")).isEmpty()
        || !isUnitText(changes.value(kDistanceUnit, QStringLiteral("km")))) {
        vhCritical() << "saveProfile: no usable unit system or distance unit" << changes;
        return false;
    }
    const QString root = rootPath();
    VHSafeFolder core = VHSafeFolder::open(root, kCoreFolder, VHSafeFolder::FatNames | VHSafeFolder::Durable);
    const QString name = core.entryName(kUserSettings);
    QByteArray document;
    // Only the two values change; settings that cannot be read are never
    // overwritten with a guess.
    if (root.isEmpty() || !core.isValid() || !updatedSettings(core, name, changes, document)) {
        vhCritical() << "saveProfile: no readable user settings below" << root;
        return false;
    }
    if (!core.writeFile(name, document) || !core.sync() || !VHVolumeSync::flush({core.filePath(name)}, root)) {
        vhCritical() << "saveProfile: can not write" << core.filePath(name);
        return false;
    }
    return true;
}

bool VHPacer50::prepareUploadProfile(const QString &path)
{
    VHProfileMap profile;
    if (!getProfile(profile))
        return false;
    QByteArray target = path.toUtf8();
    VHProfileReaderXML xml;
    return xml.write(target, profile);
}
