#pragma once

#include <QString>

// The platform part of the environment: where things live.
class VHEnvInterface
{
public:
    virtual ~VHEnvInterface() = default;
    virtual QString resourcesPath() const = 0;
    virtual QString dataFolder() const = 0;
    virtual QString nativeSeparator() const = 0;
};

// Folder locations of a freedesktop system: the data folder under
// $XDG_DATA_HOME, the resources beside the program or in its share folder.
class VHStandardEnv : public VHEnvInterface
{
public:
    VHStandardEnv();
    QString resourcesPath() const override { return m_resourcesPath; }
    QString dataFolder() const override;
    QString nativeSeparator() const override { return QStringLiteral("/"); }

private:
    QString m_resourcesPath;
};
