#pragma once

#include "VHArchiveFiles.h"
#include "VHResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the Pacer30 family takes from its packages, read and checked before the
// device is touched: the loader package (a temporary loader "IT…" and the
// loader "I…"), the Pulsar30 program image (the last ".bin"), and the image
// version and erase rules of the family. `files` are the names of the regular
// files at the top of a package, in name order. Every refusal is BadPackage.
class VHPacer30Package
{
public:
    // The two loader files; a package without either is refused, since writing
    // only the temporary loader would leave the device running nothing else.
    struct Loader
    {
        QString temporary; // "IT…"
        QString loader;    // "I…", not "IT…"
    };
    static VHResult loaderFrom(const QStringList &files, Loader &loader);
    // The last ".bin" of the list whose name starts with the model's name or
    // its image tag ("PULSAR30_V005.bin", "maple.bin"), followed by no letter
    // or digit: another family's package names its images otherwise.
    static VHResult imageFrom(const QStringList &files, const QString &model, QString &image);
    // The tag a program image of `model` carries in its first kTagArea bytes
    // (the code name its INQUIRY answer shows); empty for other models.
    static QByteArray imageTag(const QString &model);
    static constexpr qsizetype kTagArea = 512;
    // A program image of `model`: at least kTagArea bytes, at most the image
    // area (a longer one would be cut), carrying the model's tag.
    static VHResult checkImage(const QByteArray &image, const QString &model);

    // The image version of a device: its version text without the first
    // character, as a decimal number; text that is not one reads as 0.
    static int imageVersion(const QString &text);
    // Whether a Pulsar30-class image update erases the external flash first.
    static bool erasesBeforeImage(const QString &model, int version);
    // The image cut or zero-padded to `size` bytes.
    static QByteArray fitted(const QByteArray &image, qsizetype size);

    // ---- whole packages, parsed from their files (nothing here reads a file) ----
    // The loader package: both loaders, named as loaderFrom says, not empty.
    struct LoaderFiles
    {
        Loader names;
        QByteArray temporary;
        QByteArray loader;
    };
    static VHResult parseLoader(const VHArchiveFiles::Files &files, LoaderFiles &loader);
    // The program image of `model` (imageFrom), checked by checkImage.
    struct Image
    {
        QString name;
        QByteArray bytes;
    };
    static VHResult parseImage(const VHArchiveFiles::Files &files, const QString &model, Image &image);
};
