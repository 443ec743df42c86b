#pragma once

#include "VHResult.h"

#include <QByteArray>
#include <QString>

class VHTrustedKeys;

// Whether a package on disk is the one its stored signature names: a zip
// against "<zip>.minisig"; an unpacked folder through the zip it was
// unpacked from ("<folder>.zip"), whose files it must hold unchanged.
namespace VHPackageSignature {

// The file whose signature vouches for `package`.
QString signedFile(const QString &package);
// The text of "<file>.minisig", at most 4 KiB and one byte; null when there is none.
QByteArray readSignature(const QString &file);
VHResult check(const QString &package, const VHTrustedKeys &keys, QString *trustedComment = nullptr);

} // namespace VHPackageSignature
