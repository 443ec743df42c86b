// The Pacer40 profile: tagged entries in the profile block of the store.

#include "VHPSFDevice.h"

#include "VHLog.h"
#include "VHPSFLayout.h"
#include "VHProfileEntries.h"

#include <algorithm>

namespace {

// The profile block of the store's copy of the flash, loaded when needed.
bool profileBlock(VHPSFFlashStore &store, qsizetype &offset)
{
    if (VHResult result = store.getProfile(offset); !result) {
        vhCritical() << "can not read the profile:" << result.reason;
        return false;
    }
    return offset >= 0 && offset <= store.image().size() - VHPSFLayout::kProfileSize;
}

} // namespace

bool VHPSFDevice::saveProfile(const QByteArray &bytes)
{
    VHProfileMap changes;
    if (!VHProfileReaderXML::readSettings(bytes, changes)) {
        vhCritical() << "saveProfile: no profile settings given";
        return false;
    }
    qsizetype offset = 0;
    if (!profileBlock(m_store, offset))
        return false;
    QByteArray block = m_store.image().mid(offset, VHPSFLayout::kProfileSize);
    VHProfileMap profile;
    // A list that cannot be read is replaced by the given values alone.
    if (!VHProfileEntries::read(block, profile)) {
        vhWarning() << "saveProfile: the device's profile entries are unreadable";
        profile.clear();
    }
    profile.insert(changes);
    if (!VHProfileEntries::write(block, profile))
        return false;
    std::copy(block.cbegin(), block.cend(), m_store.image().begin() + offset);
    return true;
}

bool VHPSFDevice::prepareUploadProfile(const QString &path)
{
    qsizetype offset = 0;
    if (!profileBlock(m_store, offset))
        return false;
    VHProfileMap profile;
    if (!VHProfileEntries::read(m_store.image().mid(offset, VHPSFLayout::kProfileSize), profile)) {
        vhCritical() << "prepareUploadProfile: the device's profile entries are unreadable";
        return false;
    }
    QByteArray target = path.toUtf8();
    VHProfileReaderXML xml;
    return xml.write(target, profile);
}
