#include "VHPackageSignature.h"

#include "VHArchiveFiles.h"
#include "VHMinisign.h"
#include "VHTrustedKeys.h"

#include <QFile>
#include <QFileInfo>

namespace {

// A folder holds exactly the files of its zip, byte for byte.
VHResult folderMatchesZip(const QString &folder, const QString &zip)
{
    VHArchiveFiles::Files packed, unpacked;
    const VHArchiveFiles::Limits limits;
    const bool read =
        VHArchiveFiles::read(zip, packed, limits).ok && VHArchiveFiles::readFolder(folder, unpacked, limits).ok;
    if (read && packed == unpacked)
        return VHResult::success();
    return VHResult::failure(VHMinisign::kNotAuthentic, VHMinisign::mismatchText());
}

} // namespace

QString VHPackageSignature::signedFile(const QString &package)
{
    return QFileInfo(package).isDir() ? package + QStringLiteral(".zip") : package;
}

QByteArray VHPackageSignature::readSignature(const QString &file)
{
    QFile signature(file + VHMinisign::kSignatureSuffix);
    if (!signature.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = signature.read(VHMinisign::kMaxSignatureSize + 1);
    return text.isNull() ? QByteArray("") : text; // an empty file is there, and damaged
}

VHResult VHPackageSignature::check(const QString &package, const VHTrustedKeys &keys, QString *trustedComment)
{
    const QString file = signedFile(package);
    const QByteArray signature = readSignature(file);
    if (signature.isNull() || !QFileInfo(file).isFile())
        return VHResult::failure(VHMinisign::kNotAuthentic, VHMinisign::notSignedText());
    QString comment;
    if (const VHResult verified = VHMinisign::verifyFile(file, signature, keys, &comment); !verified)
        return verified;
    if (file != package) {
        if (const VHResult same = folderMatchesZip(package, file); !same)
            return same;
    }
    if (trustedComment)
        *trustedComment = comment;
    return VHResult::success();
}
