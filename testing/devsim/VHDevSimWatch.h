#pragma once

#include "VHDevSim.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

// Plays the starts a device's firmware makes by itself (VHDevSim::selfStart):
// a device whose rule holds for `pauseMs` is started (and plugged) once. Poll
// it by hand or let start() poll on a thread of its own, so that a test or the
// demo runs the whole two-pass road without stepping in.
class VHDevSimWatch : public QObject
{
    Q_OBJECT

public:
    explicit VHDevSimWatch(const QString &root, int pauseMs = 200, QObject *parent = nullptr);
    ~VHDevSimWatch() override;

    void start(int intervalMs = 20);
    void stop();
    // One pass over the devices; a line per device acted on, e.g.
    // "BIKE: restarted after eject (installed OS=130)".
    QStringList poll();

signals:
    // Emitted from the polling thread.
    void restarted(const QString &name, const QStringList &changes);

private:
    QString act(const QString &name, VHDevSim::SelfStart rule);
    void run(int intervalMs);

    VHDevSim m_sim;
    const int m_pauseMs;
    QElapsedTimer m_clock;
    std::mutex m_pollMutex;
    QHash<QString, QPair<VHDevSim::SelfStart, qint64>> m_seen; // rule and when it was first seen
    std::thread m_thread;
    std::mutex m_stopMutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
};
