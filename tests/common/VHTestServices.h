#pragma once

// Fake device services: a file-system one and a SCSI one that records every
// command, both counted so tests see that ownership ends where it should.

#include "VHDeviceService.h"
#include "VHSCSIDeviceService.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>

inline int &liveFakeServices()
{
    static int count = 0;
    return count;
}

// A service of any type (a file-system one by default) that only answers its UUID.
class FakeFSService : public VHDeviceService
{
public:
    FakeFSService(const QString &uuid, const VHModelInfo &model = {}, int type = DEVICE_FS)
        : m_uuid(uuid), m_model(model), m_type(type)
    {
        ++liveFakeServices();
    }
    ~FakeFSService() override { --liveFakeServices(); }
    bool getUUID(QString &uuid) override
    {
        uuid = m_uuid;
        return !uuid.isEmpty();
    }
    VHModelInfo modelInfo() const override { return m_model; }
    int type() const override { return m_type; }

private:
    QString m_uuid;
    VHModelInfo m_model;
    int m_type;
};

// A SCSI transport that records every command block and data phase; a read
// answers `answer` at the end of the buffer (by default the UUID, as the vendor read).
class FakeSCSIService : public VHSCSIDeviceService
{
public:
    struct Command
    {
        QByteArray cdb;
        QByteArray data;
    };

    explicit FakeSCSIService(const QString &uuid = {}, const VHModelInfo &model = {})
        : answer(uuid.toLatin1().left(16)), m_model(model)
    {
        ++liveFakeServices();
    }
    ~FakeSCSIService() override { --liveFakeServices(); }

    VHModelInfo modelInfo() const override { return m_model; }
    bool openClient() override
    {
        ++opens;
        return openSucceeds;
    }
    void closeClient() override { ++closes; }
    bool writeClient(const std::uint8_t *cdb, int cdbLength, const std::uint8_t *data, int length) override
    {
        commands.append({QByteArray(reinterpret_cast<const char *>(cdb), cdbLength),
                         QByteArray(reinterpret_cast<const char *>(data), length)});
        return commands.size() != failAtCommand;
    }
    bool readClient(const std::uint8_t *cdb, int cdbLength, std::uint8_t *buffer, int length) override
    {
        commands.append({QByteArray(reinterpret_cast<const char *>(cdb), cdbLength), QByteArray()});
        std::fill(buffer, buffer + length, 0);
        const int n = int(qMin<qsizetype>(answer.size(), length));
        std::copy(answer.begin(), answer.begin() + n, buffer + length - n);
        return true;
    }

    QList<Command> commands;
    QByteArray answer;
    bool openSucceeds = true;
    qsizetype failAtCommand = -1; // 1-based index of a command that fails
    int opens = 0;
    int closes = 0;

private:
    VHModelInfo m_model;
};
