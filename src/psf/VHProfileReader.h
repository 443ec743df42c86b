#pragma once

// Readers that translate a device's profile storage from and to the flat map
// of named value texts that VHProfileData holds. Every reader treats its
// source as hostile: a short block, a huge or malformed file gives false.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <span>
#include <string_view>

using VHProfileMap = QMap<QString, QString>;

class VHProfileReader : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Fills `map` from `source`; false when the source is unusable.
    virtual bool read(const QByteArray &source, VHProfileMap &map) = 0;
    // Writes `map` back into `source` (the file it names, or the block itself).
    virtual bool write(QByteArray &source, const VHProfileMap &map) = 0;
};

// `source` is the path of an XML settings file: a "settings" root holding
// "property" elements with "name" and "value" attributes.
class VHProfileReaderXML : public VHProfileReader
{
    Q_OBJECT

public:
    // Larger files are refused unread.
    static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

    using VHProfileReader::VHProfileReader;
    bool read(const QByteArray &source, VHProfileMap &map) override;
    // The whole file anew, in ascending key order, by temporary name and
    // rename, flushed: a crash leaves the old file or the new one.
    bool write(QByteArray &source, const VHProfileMap &map) override;

    // The document write() stores.
    static QByteArray document(const VHProfileMap &map);
    // Parses a document; false for malformed XML or another root.
    static bool parse(const QByteArray &document, VHProfileMap &map);
};

// The user record of the Pacer30 family's 4096-byte profile block at a fixed
// offset. Fields the map does not hold, or holds as unusable text, keep the
// block's bytes.
class VHProfileReaderPSF : public VHProfileReader
{
    Q_OBJECT

public:
    // One field of a packed run and the key it maps to (none: carried).
    struct Field
    {
        enum Kind { Integer, Float, Age, Text };
        const char *key;
        Kind kind;
    };

    explicit VHProfileReaderPSF(qsizetype userOffset, QObject *parent = nullptr);
    bool read(const QByteArray &source, VHProfileMap &map) override;
    bool write(QByteArray &source, const VHProfileMap &map) override;

protected:
    // `fields` name the format's fields in order.
    static bool readRun(const QByteArray &block, qsizetype offset, std::string_view format,
                        std::span<const Field> fields, VHProfileMap &map);
    static bool writeRun(QByteArray &block, qsizetype offset, std::string_view format, std::span<const Field> fields,
                         const VHProfileMap &map);

private:
    qsizetype m_userOffset;
};

class VHProfileReaderPSF_Obsolete : public VHProfileReaderPSF
{
    Q_OBJECT

public:
    explicit VHProfileReaderPSF_Obsolete(QObject *parent = nullptr);
};

class VHProfileReaderPSF_Obsolete_Pulsar30 : public VHProfileReaderPSF
{
    Q_OBJECT

public:
    explicit VHProfileReaderPSF_Obsolete_Pulsar30(QObject *parent = nullptr);
};

// Adds the language and unit of the settings block and the MLSS and
// first-use page of the first-use block.
class VHProfileReaderPSF_1_0_0 : public VHProfileReaderPSF
{
    Q_OBJECT

public:
    explicit VHProfileReaderPSF_1_0_0(QObject *parent = nullptr);
    bool read(const QByteArray &source, VHProfileMap &map) override;
    bool write(QByteArray &source, const VHProfileMap &map) override;
};

// A layout no device uses yet: reading and writing report failure.
class VHProfileReaderPSF_2_0_0 : public VHProfileReader
{
    Q_OBJECT

public:
    using VHProfileReader::VHProfileReader;
    bool read(const QByteArray &source, VHProfileMap &map) override;
    bool write(QByteArray &source, const VHProfileMap &map) override;
};
