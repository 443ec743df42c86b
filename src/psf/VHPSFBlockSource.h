#pragma once

// Where a flash store's bytes come from: the device (through its flash
// commands) or a flash image in memory. Blocks are the 4096-byte blocks of
// the external flash, numbered from 0.

#include <QByteArray>

class VHPSFBlockSource
{
public:
    virtual ~VHPSFBlockSource() = default;
    // Fills `out` with `count` blocks starting at `firstBlock`.
    virtual bool readBlocks(int firstBlock, int count, QByteArray &out) = 0;
    // Reads blocks back to compare them with what was just written: a wrong
    // answer can only fail the write, so a source that reads twice may read once.
    virtual bool readBack(int firstBlock, int count, QByteArray &out) { return readBlocks(firstBlock, count, out); }
    // Writes `data`, a whole number of blocks, starting at `firstBlock`.
    virtual bool writeBlocks(int firstBlock, const QByteArray &data) = 0;
    // Erases the whole flash (every byte 0xFF).
    virtual bool eraseAll() = 0;
};

// A flash held in memory, for images read from files and for tests.
class VHPSFImageSource : public VHPSFBlockSource
{
public:
    explicit VHPSFImageSource(QByteArray flash) : m_flash(std::move(flash)) {}

    bool readBlocks(int firstBlock, int count, QByteArray &out) override;
    bool writeBlocks(int firstBlock, const QByteArray &data) override;
    bool eraseAll() override;

    const QByteArray &flash() const { return m_flash; }

private:
    bool inside(int firstBlock, qsizetype bytes) const;

    QByteArray m_flash;
};
