// The data operations of the GAL family: activity and workout lists and
// deletes through the device-log library, the profile as XML and back, and
// the raw-data export through the helper module. They serve the companion
// side and velora-devctl, never the update road.

#include "VHGalDevice.h"
#include "VHProfileReader.h"

#include "VHCorvoLock.h"
#include "VHEnv.h"
#include "VHGalPython.h"
#include "VHLog.h"
#include "VHUtility.h"
#include "VHVolumeSync.h"

#include "corvolib.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <cstring>

namespace {

// DeleteGALFile kinds and the GetWKT location of the general plans.
constexpr int kActivityKind = 30;
constexpr int kWorkoutKind = 21;
constexpr uint32_t kPlanLocation = 0;
// The library copies a name into a buffer of this size.
constexpr int kNameBuffer = 260;
// A volume may hold any number of files; the lists stop here.
constexpr int kMaxListed = 10000;

using Amount = int (*)(int *);
using NameAt = int (*)(int, char *);

int workoutAmount(int *count) { return GetWKTFileamount(count, kPlanLocation); }
int workoutName(int index, char *name) { return GetWKTFileName(index, name, kPlanLocation); }

// Points the library at the volume; the caller holds the library's lock.
bool setHome(const QString &root)
{
    const QByteArray home = QFile::encodeName(root + QLatin1Char('/'));
    if (root.isEmpty() || home.size() >= kNameBuffer || !SetPathDirect("/") || !SetHomePath(home.constData())) {
        vhWarning() << "the device-log library can not use the volume" << root;
        return false;
    }
    return true;
}

QStringList listNames(const QString &root, Amount amount, NameAt nameAt)
{
    return vhCorvoCall("the file list", [&] {
        int count = 0;
        if (!setHome(root) || !amount(&count))
            return QStringList();
        if (count > kMaxListed)
            vhWarning() << "list cut at" << kMaxListed << "of" << count << "files";
        QStringList names;
        for (int index = 1; index <= qMin(count, kMaxListed); ++index) {
            char buffer[kNameBuffer] = {};
            if (nameAt(index, buffer))
                names << QFile::decodeName(QByteArray(buffer, int(strnlen(buffer, sizeof buffer))));
        }
        return names;
    });
}

void appendRows(QVariantList &list, const QStringList &names)
{
    for (const QString &name : names) {
        list.append(QVariantMap{{QStringLiteral("Name"), name},
                                {QStringLiteral("StartTime"), VHGalDevice::timeOfFileName(name)}});
    }
}

// The library joins home, folder and name: a name is one plain component of
// the kind's extension, or nothing is deleted.
bool deleteNames(const QString &root, int kind, const QString &extension, const QVariantList &names)
{
    for (const QVariant &name : names) {
        const QString text = name.toString();
        if (!VHUtility::isSafePathComponent(text) || !text.endsWith(extension, Qt::CaseInsensitive)) {
            vhWarning() << "not a file name to delete:" << text.left(64);
            return false;
        }
    }
    // 1: all deleted, 0: some not; -1: nothing tried.
    const int deleted = vhCorvoCall(
        "DeleteGALFile",
        [&] {
            if (!setHome(root))
                return -1;
            int all = 1;
            for (const QVariant &name : names) {
                if (!DeleteGALFile(kind, QFile::encodeName(name.toString()).constData())) {
                    vhWarning() << "DeleteGALFile failed:" << kind << name.toString();
                    all = 0;
                }
            }
            return all;
        },
        -1);
    return deleted >= 0 && VHVolumeSync::flush({}, root) && deleted == 1;
}

QString tempFile(const char *name) { return VHEnv::instance()->tempFolder() + QLatin1Char('/') + QLatin1String(name); }

} // namespace

QDateTime VHGalDevice::timeOfFileName(const QString &name)
{
    // "230517083015.gal": the first 12 characters after the century.
    QDateTime time = QDateTime::fromString(QStringLiteral("20") + name.left(12), QStringLiteral("yyyyMMddHHmmss"));
    time.setTimeZone(QTimeZone::utc());
    return time.isValid() ? time : QDateTime();
}

// ---- lists and deletes ------------------------------------------------------------------------

void VHGalDevice::getTracks(QVariantList &list)
{
    appendRows(list, listNames(volumeRoot(), GetActivityfileamount, GetActivityfileName));
}

void VHGalDevice::getWorkouts(QVariantList &list)
{
    appendRows(list, listNames(volumeRoot(), workoutAmount, workoutName));
}

bool VHGalDevice::deleteTracks(const QVariantList &names)
{
    return deleteNames(volumeRoot(), kActivityKind, QStringLiteral(".gal"), names);
}

bool VHGalDevice::deleteWorkouts(const QVariantList &names)
{
    return deleteNames(volumeRoot(), kWorkoutKind, QStringLiteral(".wkt"), names);
}

// ---- profile ------------------------------------------------------------------------------------

bool VHGalDevice::readProfileIni(QString &iniPath)
{
    const QString root = volumeRoot();
    iniPath = tempFile("pfread.ini");
    if (root.isEmpty())
        return false;
    // A file left over would pass for the device's profile.
    if (!VHUtility::removeFile(iniPath))
        return false;
    const int written = vhCorvoCall("GetProfile", [&] {
        return setHome(root) ? GetProfile(QFile::encodeName(root + QLatin1Char('/')).constData(),
                                          QFile::encodeName(iniPath).constData())
                             : 0;
    });
    if (!written)
        vhWarning() << "GetProfile failed for" << root;
    return written != 0;
}

bool VHGalDevice::prepareUploadProfile(const QString &target)
{
    QString iniPath;
    if (target.isEmpty() || !readProfileIni(iniPath))
        return false;
    return VHGalPython::createProfileXml(iniPath, target);
}

bool VHGalDevice::saveProfile(const QByteArray &bytes)
{
    const QString root = volumeRoot();
    VHProfileMap changes;
    if (root.isEmpty() || !VHProfileReaderXML::readSettings(bytes, changes) || changes.isEmpty()) {
        vhWarning() << "no profile settings to save";
        return false;
    }
    const QStringList keys = changes.keys();
    const QStringList values = changes.values();
    const QString iniPath = tempFile("pfwrite.ini");
    if (!VHUtility::removeFile(iniPath) || !VHGalPython::createProfileIni(keys, values, iniPath))
        return false;
    const int refreshed = vhCorvoCall("RefreshProfile", [&] {
        return setHome(root) ? RefreshProfile(QFile::encodeName(root + QLatin1Char('/')).constData(),
                                              QFile::encodeName(iniPath).constData())
                             : 0;
    });
    if (!refreshed) {
        vhWarning() << "RefreshProfile failed for" << root;
        return false;
    }
    return VHVolumeSync::flush({}, root);
}

// ---- raw data ----------------------------------------------------------------------------------

QStringList VHGalDevice::_exportTrack(const QString &folder)
{
    vhDebug() << "saveDeviceRawData";
    const QString root = volumeRoot();
    if (root.isEmpty() || folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    QString iniPath;
    if (!readProfileIni(iniPath))
        vhWarning() << "raw data exported without the profile";
    QString model, image;
    (void)getModelName(model);
    (void)getImageVersion(image);
    const QString version = QStringLiteral("1.0.0.%1 VH%2").arg(image, VHEnv::applicationVersion());
    return VHGalPython::exportBdx(folder, model, version, iniPath, root + QLatin1Char('/'));
}

// ---- operations without a format of their own -----------------------------------------------------

bool VHGalDevice::prepareUploadData(QString &path, bool)
{
    vhWarning() << "prepareUploadData: not supported";
    path.clear();
    return false;
}

bool VHGalDevice::setShareData(const QString &)
{
    vhWarning() << "setShareData: not supported";
    return false;
}
