#pragma once

#include "VHFileOps.h"

#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into the Qt signal stopRequested on this object's
// thread. The handler only writes the signal's number into a pipe, which is
// safe in a signal handler; everything else runs from the event loop. One
// object at a time; the previous handlers come back when it is destroyed.
class OrlaStopSignals : public QObject
{
    Q_OBJECT

public:
    explicit OrlaStopSignals(QObject *parent = nullptr);
    ~OrlaStopSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void stopRequested(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    void readPending();

    VHFileOps::UniqueFd m_readEnd;
    VHFileOps::UniqueFd m_writeEnd;
    QSocketNotifier *m_notifier = nullptr; // child
    struct sigaction m_previousTerm = {};
    struct sigaction m_previousInt = {};
};
