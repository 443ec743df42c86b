#pragma once

// Which threads did file operations below one folder: a check that slow
// storage work stays off the thread that must answer (the GUI thread).

#include "VHSysCalls.h"

#include <QThread>

#include <atomic>
#include <memory>

class VHTestIoThreads : public VHSys::FaultHook
{
public:
    // Counts `op` below `folder`, by whether the installing thread made it.
    VHTestIoThreads(const QString &folder, VHSys::Op op) : m_folder(folder.toUtf8() + '/'), m_op(op) {}

    int before(VHSys::Op op, const QByteArray &path) override
    {
        if (op == m_op && path.startsWith(m_folder))
            ++(QThread::currentThread() == m_home ? onHomeThread : elsewhere);
        return 0;
    }
    int afterRead(const QByteArray &, char *, size_t) override { return 0; }

    // Installed while the returned guard lives, in place of the hook
    // installed before (a simulator's faults), which comes back after it.
    static std::shared_ptr<VHTestIoThreads> install(const QString &folder, VHSys::Op op)
    {
        auto hook = std::make_shared<VHTestIoThreads>(folder, op);
        std::shared_ptr<VHSys::FaultHook> previous = VHSys::faultHook();
        VHSys::installFaultHook(hook);
        return std::shared_ptr<VHTestIoThreads>(
            hook.get(), [hook, previous](VHTestIoThreads *) { VHSys::installFaultHook(previous); });
    }

    std::atomic<int> onHomeThread{0};
    std::atomic<int> elsewhere{0};

private:
    const QByteArray m_folder;
    const VHSys::Op m_op;
    QThread *const m_home = QThread::currentThread();
};
