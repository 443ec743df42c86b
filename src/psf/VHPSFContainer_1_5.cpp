#include "VHPSFContainer_1_5.h"

#include "VHByteReader.h"
#include "VHPSFStore.h"

VHPSFContainer_1_5::VHPSFContainer_1_5(VHPSFStore &store) : m_store(store), m_status(store.getDistHeader(m_distHeader))
{
    if (!m_status)
        m_distHeader = -1;
}

qsizetype VHPSFContainer_1_5::distObjectOffset() const
{
    return m_distHeader < 0 ? -1 : m_distHeader + VHPSFLayout::kDistObjectOffset;
}

bool VHPSFContainer_1_5::getVersion(QByteArray &version) const
{
    if (m_distHeader < 0)
        return false;
    VHByteReader reader(m_store.image(), m_distHeader + VHPSFLayout::kVersionOffset);
    const QByteArray bytes = reader.bytes(VHPSFLayout::kVersionSize);
    if (!reader.ok())
        return false;
    version = bytes;
    return true;
}
