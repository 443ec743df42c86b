#pragma once

#include "VHDeviceManagerListener.h"

#include <QObject>

#include <memory>

class QNetworkAccessManager;
class VHDeviceManager;
class VHPlatform;

// The process-wide facade of the device runtime: owns the platform and the
// device manager working through it, registers the built-in model table and
// passes a connected device's model and versions to CorvoLib.
class VHDaemon : public VHDeviceManagerListener
{
public:
    // The one daemon; a VHDaemonProxy when the environment's mode is "user".
    static VHDaemon *instance();

    // Over a platform with the backend of the device registry.
    VHDaemon();
    ~VHDaemon() override;

    void onDeviceConnected(VHClient *device) override;
    void onDeviceDisconnected(VHClient *device) override;
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *, int) override {}

    [[nodiscard]] virtual bool start(bool registerBuiltInModels);
    virtual VHClient *currentDevice();
    // Packs the runtime's logs and the current device's files into zipPath (a
    // relative zipPath lies in the data folder). Never changes the current folder.
    [[nodiscard]] virtual bool makeLogZip(const QString &zipPath);

    VHDeviceManager *deviceManager() const { return m_manager.get(); }
    VHPlatform *platform() const { return m_platform.get(); }

private:
    // Declared first: the manager and its detector borrow it to the end.
    std::unique_ptr<VHPlatform> m_platform;
    std::unique_ptr<VHDeviceManager> m_manager;
};

// The daemon of the "user" mode: the local companion service builds the log
// archive, asked over the loopback address.
class VHDaemonProxy : public QObject, public VHDaemon
{
    Q_OBJECT

public:
    VHDaemonProxy();
    ~VHDaemonProxy() override;

    [[nodiscard]] bool makeLogZip(const QString &zipPath) override;
    static constexpr quint16 kCompanionPort = 18888;

private slots:
    void replyFinished();

private:
    QNetworkAccessManager *m_network;
};
