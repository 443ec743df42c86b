#pragma once

#include "VHClient.h"
#include "VHDeviceManagerListener.h"

#include <QStringList>
#include <QTest>

#include <algorithm>
#include <functional>

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

    // Starts an action and waits for its end: true when it ended without failing.
    bool run(const std::function<bool()> &start, int action, int timeoutMs = 60000)
    {
        const QString prefix = QStringLiteral("done %1 ").arg(action);
        const auto ends = [&] {
            return std::count_if(list.cbegin(), list.cend(),
                                 [&](const QString &line) { return line.startsWith(prefix); });
        };
        const auto before = ends();
        if (!start() || !QTest::qWaitFor([&] { return ends() > before; }, timeoutMs))
            return false;
        const auto last =
            std::find_if(list.crbegin(), list.crend(), [&](const QString &line) { return line.startsWith(prefix); });
        return *last == prefix + QLatin1String("ok");
    }
};
