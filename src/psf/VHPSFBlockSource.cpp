#include "VHPSFBlockSource.h"

#include "VHByteReader.h"
#include "VHPSFLayout.h"

bool VHPSFImageSource::inside(int firstBlock, qsizetype bytes) const
{
    const qsizetype from = qsizetype(firstBlock) * VHPSFLayout::kBlockSize;
    return firstBlock >= 0 && bytes >= 0 && from <= m_flash.size() && bytes <= m_flash.size() - from;
}

bool VHPSFImageSource::readBlocks(int firstBlock, int count, QByteArray &out)
{
    const qsizetype bytes = qsizetype(count) * VHPSFLayout::kBlockSize;
    if (count < 0 || !inside(firstBlock, bytes))
        return false;
    out = m_flash.mid(qsizetype(firstBlock) * VHPSFLayout::kBlockSize, bytes);
    return true;
}

bool VHPSFImageSource::writeBlocks(int firstBlock, const QByteArray &data)
{
    if (data.size() % VHPSFLayout::kBlockSize != 0 || !inside(firstBlock, data.size()))
        return false;
    return VHByteWriter(m_flash, qsizetype(firstBlock) * VHPSFLayout::kBlockSize).bytes(data).ok();
}

bool VHPSFImageSource::eraseAll()
{
    m_flash.fill(char(0xFF));
    return true;
}
