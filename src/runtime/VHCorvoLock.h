#pragma once

#include <QMutex>

// The device-log library keeps process-wide state (path separator, home
// folder, model) and is meant for one thread at a time: every caller holds
// this lock around its calls and the settings they rely on.
inline QMutex &vhCorvoMutex()
{
    static QMutex mutex;
    return mutex;
}
