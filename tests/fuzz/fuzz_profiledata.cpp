// Reads one input as a 4096-byte profile block with every binary reader and
// as a Pacer40 entry list, writes what was read back, and reads the input as
// an XML settings file. Checks that what was written reads back.

#include "VHProfileData.h"
#include "VHProfileEntries.h"
#include "VHProfileLayout.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void checkBlock(const QByteArray &block)
{
    for (int type = 1; type <= 4; ++type) {
        VHProfileData data(block, type);
        if (!data.read())
            continue;
        require(data.write());
        require(data.source().size() == block.size());
        VHProfileData again(data.source(), type);
        require(again.read());
    }
    VHProfileMap map;
    if (!VHProfileEntries::read(block, map))
        return;
    QByteArray written = block;
    require(VHProfileEntries::write(written, map));
    VHProfileMap back;
    require(VHProfileEntries::read(written, back));
    require(back.keys() == map.keys());
}

void checkXml(const QByteArray &bytes)
{
    static QTemporaryDir dir;
    const QString input = dir.filePath("settings.xml");
    const QString output = dir.filePath("written.xml");
    QFile file(input);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    VHProfileData data(input.toUtf8(), VHProfileData::Xml);
    if (!data.read())
        return;
    VHProfileData copy(output.toUtf8(), VHProfileData::Xml);
    for (auto it = data.values().cbegin(); it != data.values().cend(); ++it)
        copy.setValue(it.key(), it.value());
    require(copy.write());
    VHProfileData back(output.toUtf8(), VHProfileData::Xml);
    require(back.read() && back.values() == data.values());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool dated = (VHProfileData::setToday(QDate(2024, 6, 15)), true);
    (void)dated;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray block = bytes.left(VHProfileLayout::kBlockSize);
    block.append(QByteArray(VHProfileLayout::kBlockSize - block.size(), char(0xFF)));
    checkBlock(block);
    checkBlock(bytes); // a short block is refused
    checkXml(bytes);
    return 0;
}
