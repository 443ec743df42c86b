#pragma once

#include "VHClient.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHMinisign.h"
#include "VHPackageCheck.h"
#include "VHPackageIdentity.h"
#include "VHPackageSignature.h"
#include "VHTrustedKeys.h"

// The device's side of the package check, shared by every front end.
namespace VHClientPackageCheck {

// The image version is what a package's [OS] Version names; some families
// report more in getVersion.
inline QString softwareVersionOf(VHClient *client)
{
    QString version;
    if (!client)
        return version;
    if (client->getImageVersion(version) && !version.isEmpty())
        return version;
    version.clear();
    client->getVersion(version);
    return version;
}

inline VHPackageCheck::Target targetOf(VHClient *client)
{
    QString model;
    if (client)
        client->getModelName(model);
    return {model, softwareVersionOf(client)};
}

// Whether `package` (a zip, or a folder through the zip it came from) is
// authentic as the signature policy asks, checked again just before a write:
// a package in the updates folder may have been swapped since its download.
// Fails with code VHMinisign::kNotAuthentic; `trustedComment` gets the
// accepted signature's comment (empty when none was checked).
inline VHResult signatureRefusal(const QString &package, QString *trustedComment = nullptr)
{
    if (VHEnv::instance()->signaturePolicy() != VHEnv::SignaturePolicy::Required)
        return VHResult::success();
    const VHResult checked = VHPackageSignature::check(package, VHTrustedKeys::load(), trustedComment);
    if (checked)
        vhWarning() << "package signature accepted:" << package;
    else
        vhCritical() << "package signature refused:" << package << checked.reason;
    return checked;
}

// Why `package` (a zip or a folder) must not be written to the device; empty when it may.
inline QString refusal(VHClient *client, const QString &package)
{
    if (const VHResult signature = signatureRefusal(package); !signature)
        return signature.reason;
    return VHPackageCheck::refusal(targetOf(client), VHPackageIdentity::read(package));
}

} // namespace VHClientPackageCheck
