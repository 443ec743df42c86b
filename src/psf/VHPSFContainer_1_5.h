#pragma once

// The container of the 1.5 record generation, as far as attaching a device
// needs it: built over a store, it loads the dist header region and knows
// where the dist header object lies and which version text it carries.

#include "VHResult.h"

#include <QByteArray>

class VHPSFStore;

class VHPSFContainer_1_5
{
public:
    explicit VHPSFContainer_1_5(VHPSFStore &store);

    bool isValid() const { return m_status.ok; }
    const VHResult &status() const { return m_status; }
    // Start of the dist header region in the store's image.
    qsizetype distHeaderOffset() const { return m_distHeader; }
    // The dist header object, 48 bytes into the region.
    qsizetype distObjectOffset() const;
    // Dist header bytes 16-19.
    [[nodiscard]] bool getVersion(QByteArray &version) const;

private:
    VHPSFStore &m_store;
    qsizetype m_distHeader = -1;
    VHResult m_status;
};
