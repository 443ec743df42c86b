#include "VHPacer60.h"

#include "VHFSDeviceService.h"
#include "VHGalDevice.h"

VHPacer60::VHPacer60() = default;

VHPacer60::~VHPacer60() = default;

void VHPacer60::DelegateDeleter::operator()(VHGalDevice *device) const { VHClientDeleter()(device); }

void VHPacer60::makeDelegate()
{
    m_delegate.reset();
    auto *service = dynamic_cast<VHFSDeviceService *>(deviceService());
    if (!service)
        return;
    m_delegate.reset(new VHGalDevice);
    m_delegate->setDeviceService(new VHFSDeviceService(*service));
}

void VHPacer60::setDeviceService(VHDeviceService *service)
{
    VHDeviceImpl<VHPacer60, VHPacer50>::setDeviceService(service);
    // A reconnected device may have another volume: the delegate reads it anew.
    if (m_delegate)
        makeDelegate();
}

bool VHPacer60::initial()
{
    makeDelegate();
    return m_delegate && VHPacer50::initial();
}

bool VHPacer60::getRootPath(QString &path) { return m_delegate && m_delegate->getRootPath(path); }
bool VHPacer60::getUUID(QString &uuid) { return m_delegate && m_delegate->getUUID(uuid); }
bool VHPacer60::getVersion(QString &text) { return m_delegate && m_delegate->getVersion(text); }
bool VHPacer60::getIAPVersion(QString &text) { return m_delegate && m_delegate->getIAPVersion(text); }
bool VHPacer60::getImageVersion(QString &text) { return m_delegate && m_delegate->getImageVersion(text); }
bool VHPacer60::getLaunchSecVersion(QString &text) { return m_delegate && m_delegate->getLaunchSecVersion(text); }
QString VHPacer60::getMinAppVersion()
{
    return m_delegate ? m_delegate->getMinAppVersion() : VHPacer50::getMinAppVersion();
}
bool VHPacer60::getModelName(QString &name) { return m_delegate && m_delegate->getModelName(name); }
QString VHPacer60::getCapability() { return m_delegate ? m_delegate->getCapability() : VHPacer50::getCapability(); }

VHImageMetaInfo VHPacer60::getImageMetaInfo(const QString &releaseIni)
{
    return m_delegate ? m_delegate->getImageMetaInfo(releaseIni) : VHImageMetaInfo();
}

bool VHPacer60::eject() { return ejectVolumes(); }
