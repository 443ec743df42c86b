#pragma once

#include "VHPacer50.h"

#include <memory>

class VHGalDevice;

// The Pacer60 updates as the Pacer50 family does, but describes itself as a
// GAL device: a GAL delegate answers the device queries. The delegate keeps
// a copy of the volume service of its own, so each object deletes only its own.
class VHPacer60 : public VHDeviceImpl<VHPacer60, VHPacer50>
{
    Q_OBJECT

public:
    VHPacer60();
    ~VHPacer60() override;

    bool initial() override;
    void setDeviceService(VHDeviceService *service) override;

    bool getRootPath(QString &path) override;
    bool getUUID(QString &uuid) override;
    bool getVersion(QString &text) override;
    bool getIAPVersion(QString &text) override;
    bool getImageVersion(QString &text) override;
    bool getLaunchSecVersion(QString &text) override;
    QString getMinAppVersion() override;
    bool getModelName(QString &name) override;
    QString getCapability() override;
    VHImageMetaInfo getImageMetaInfo(const QString &releaseIni) override;
    // Ejected as the Pacer50CR is, volume root and its own second volume: the
    // base's answer (not ejected) would leave the user no safe way to unplug.
    bool eject() override;

    VHGalDevice *delegate() const { return m_delegate.get(); }

private:
    // A delegate over a copy of the current volume service; none without one.
    void makeDelegate();

    struct DelegateDeleter
    {
        void operator()(VHGalDevice *device) const;
    };
    std::unique_ptr<VHGalDevice, DelegateDeleter> m_delegate;
};
