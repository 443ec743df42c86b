#pragma once

#include "VHHistory.h"

#include <QElapsedTimer>
#include <QMutex>

class VHClient;

// Follows one device action for the update history: what the device reported
// when it started, the package it was given, and the result once it ends. An
// update that goes on after the device restarted keeps its first start.
class VHHistoryRecorder
{
public:
    // The name an action is recorded under; empty for actions that are not
    // recorded (a workout check only looks into the package).
    static QString actionName(int code, const QString &componentMode);

    // On a device's arrival: the version it reports closes its last update,
    // recover or restore, once (a later arrival finds the return recorded);
    // a device that reports what the action's end recorded has not restarted yet.
    static void noteArrival(VHClient &client);

    // On the thread that starts the action.
    void begin(VHClient &client, int code, const QString &componentMode, const QString &package);
    // On the worker: the package's MD5, once per recorded action.
    void hashPackage();
    // On the client's thread when the action has ended for good.
    void finish(VHClient &client);

private:
    QMutex m_mutex; // the package fields are read by the worker
    bool m_active = false;
    int m_code = -1;
    QString m_package;
    bool m_hashed = false;
    VHHistoryEntry m_entry;
    QElapsedTimer m_timer;
};
