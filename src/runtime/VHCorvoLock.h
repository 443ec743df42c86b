#pragma once

#include "VHExceptionHandler.h"
#include "VHLog.h"

#include <QMutex>

#include <atomic>
#include <functional>
#include <type_traits>

// The device-log library keeps process-wide state (path separator, home
// folder, model) and is meant for one thread at a time: every caller holds
// this lock around its calls and the settings they rely on.
inline QMutex &vhCorvoMutex()
{
    static QMutex mutex;
    return mutex;
}

// Set for the rest of the run once a call into the library faulted: its
// process-wide state is then unknown.
inline std::atomic<bool> &vhCorvoUnusable()
{
    static std::atomic<bool> unusable{false};
    return unusable;
}

// Runs `body` with the library's lock held, under a crash guard. A fault
// jumps past every frame of the body, so no locker of it would ever give the
// lock back: the task gives it back itself and marks the library unusable.
// False when the body faulted or the library was unusable (nothing called).
inline bool vhCorvoRun(const char *name, const std::function<void()> &body)
{
    class Task : public VHExceptionTask
    {
    public:
        Task(const char *name, const std::function<void()> &body) : m_name(name), m_body(body) {}
        bool execute() override
        {
            vhCorvoMutex().lock();
            if (vhCorvoUnusable().load()) {
                vhCorvoMutex().unlock();
                vhWarning() << "device-log library unusable, not calling" << m_name;
                return false;
            }
            m_holding = true;
            m_body();
            m_holding = false;
            vhCorvoMutex().unlock();
            return true;
        }
        void handleException() override
        {
            vhCritical() << "fault inside device-log library call" << m_name;
            vhCorvoUnusable().store(true);
            if (m_holding)
                vhCorvoMutex().unlock(); // this thread took it; the frame that would have is gone
            m_holding = false;
        }

    private:
        const char *m_name;
        const std::function<void()> &m_body;
        bool m_holding = false;
    };
    Task task(name, body);
    VHLinuxExceptionHandler handler;
    return handler.execute(&task);
}

// The result of `call` made with the lock held, or `refused` when it faulted
// or the library is unusable.
template <typename Call, typename Result = std::invoke_result_t<Call &>>
Result vhCorvoCall(const char *name, Call &&call, Result refused = Result())
{
    Result result = refused;
    return vhCorvoRun(name, [&] { result = call(); }) ? result : refused;
}
