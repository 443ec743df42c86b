#pragma once

#include "VHClient.h"
#include "VHDeviceManagerListener.h"

#include <QStringList>

// Records what the device manager tells its listener, as lines a road test
// compares: "connected", "disconnected", "done <action> ok|failed".
struct VHTestEvents : VHDeviceManagerListener
{
    QStringList list;
    void onDeviceConnected(VHClient *) override { list << QStringLiteral("connected"); }
    void onDeviceDisconnected(VHClient *) override { list << QStringLiteral("disconnected"); }
    void onDeviceChanged(VHClient *) override {}
    void onActionDone(VHClient *client, int action) override
    {
        int code = 0;
        list << QStringLiteral("done %1 %2").arg(action).arg(client->actionFailed(code) ? "failed" : "ok");
    }
};
