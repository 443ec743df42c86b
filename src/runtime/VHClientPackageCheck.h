#pragma once

#include "VHClient.h"
#include "VHPackageCheck.h"
#include "VHPackageIdentity.h"

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

// Why `package` (a zip or a folder) must not be written to the device; empty when it may.
inline QString refusal(VHClient *client, const QString &package)
{
    return VHPackageCheck::refusal(targetOf(client), VHPackageIdentity::read(package));
}

} // namespace VHClientPackageCheck
