#pragma once

#include "VHArchiveFiles.h"
#include "VHDeviceImpl.h"
#include "VHPacer30.h"

// The "Pulsar30", "Pulsar35" and "Pacer20" models: the program image comes
// whole from the package, the language is a profile setting, and the
// write-back carries the profile alone.
class VHPulsar30 : public VHDeviceImpl<VHPulsar30, VHPacer30>
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxImageFile = 16 * 1024 * 1024;

    bool getLanguageOnDevice(QStringList &languages) override;
    bool setDefLanguage(const QStringList &languages) override;
    // The language is a profile setting here; the package is a program image.
    qsizetype languageAreaSize() const override { return 0; }
    bool _updateTotal(const QString &packageFile, const QString &changedLang) override;
    bool _finalize() override;

protected:
    bool isInitialised(const QString &model, const QByteArray &block) const override;
    QString iapFolderName() const override { return QStringLiteral("/pulsar30iap"); }
    QString iapLogName() const override { return QStringLiteral("maple iap"); }

private:
    VHResult updateImage(const QString &packageFile);
    static VHArchiveFiles::Limits imageLimits();
    VHResult eraseWithBackup();
    VHResult writeImage(const QString &path, const QByteArray &file);
    // The image area already holds `file`, read twice alike.
    bool alreadyFlashed(const QByteArray &file);
    VHResult writeProfileBack();
};
