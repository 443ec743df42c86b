// Reads one input as a 4096-byte profile block with every binary reader and
// as a Pacer40 entry list, writes what was read back, and reads the input as
// an XML settings file. Checks that what was written reads back.

#include "VHProfileData.h"
#include "VHProfileEntries.h"
#include "VHProfileLayout.h"
#include "fuzz_require.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

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
    // Texts that are no value of their item's type (an empty float, a read
    // type other than the item's) are left out; nothing else changes.
    for (auto it = back.cbegin(); it != back.cend(); ++it)
        require(map.contains(it.key()));
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
    // Changing one value keeps the document a settings document with that value.
    const VHProfileMap change = {{QStringLiteral("unit system"), QStringLiteral("Imperial")}};
    QByteArray updated;
    if (VHProfileReaderXML::update(bytes, change, updated)) {
        VHProfileMap after;
        require(VHProfileReaderXML::parse(updated, after) && after.value(change.firstKey()) == change.first());
    }
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
    static const bool once = [] {
        VHProfileData::setToday(QDate(2024, 6, 15));
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        return true;
    }();
    (void)once;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray block = bytes.left(VHProfileLayout::kBlockSize);
    block.append(QByteArray(VHProfileLayout::kBlockSize - block.size(), char(0xFF)));
    checkBlock(block);
    checkBlock(bytes); // a short block is refused
    checkXml(bytes);
    return 0;
}
