#pragma once

#include "VHResult.h"

#include <QString>

class VHClient;

// Finishing the job of a GAL device left waiting in IAP mode: what its second
// pass installs and in which language, then the pass itself. The object made
// for such a device never saw its volume; what the first pass chose comes from
// the record kept under its UUID (VHGalPending). Every front end recovers
// through here.
class VHGalRecovery
{
public:
    enum class LanguageSource { Given, Remembered, Default };

    struct Plan
    {
        QString source; // the package, or the restore folder
        bool restoring = false;
        QString givenLanguage; // what the caller asked for; empty: the remembered one
        QString language;      // the language the image gets
        LanguageSource languageSource = LanguageSource::Default;
        bool profileCarried = false; // the first pass carried the profile into the image
    };

    // The restore folder when the job left waiting is a factory restore (the
    // folder may have gone since); empty for an update or nothing stored.
    static QString interruptedRestore(const QString &uuid);

    // What the second pass installs. Each front end words a refusal itself.
    struct Source
    {
        enum class Refusal { None, RestoreGone, NoPackage };
        QString path;                // the restore folder or the package
        bool resumesRestore = false; // the folder of an interrupted factory restore, whatever was given
        Refusal refusal = Refusal::None;
        explicit operator bool() const { return refusal == Refusal::None; }
    };
    // A factory restore left half done goes on from its own folder (refused
    // when that is gone), never with what the caller gives; otherwise the
    // caller's package file or restore folder.
    static Source chooseSource(const QString &uuid, const QString &given);

    // A folder is a factory restore's, anything else a package.
    static Plan plan(const QString &uuid, const QString &source, const QString &givenLanguage);
    static QString sourceName(LanguageSource source);

    // Puts the device into the second pass of its job and starts it; on a
    // refusal the device is left as it was.
    static VHResult start(VHClient &client, const Plan &plan);
    // The two halves of start(), for a caller that waits on the action itself.
    static VHResult enterPass(VHClient &client, const Plan &plan);
    static bool runPass(VHClient &client, const Plan &plan);
    static int action(const Plan &plan);
};
