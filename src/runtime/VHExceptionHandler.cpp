#include "VHExceptionHandler.h"

#include <cxxabi.h>
#include <setjmp.h>
#include <signal.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

thread_local sigjmp_buf *t_guard = nullptr;
struct sigaction g_previous[NSIG];
std::once_flag g_installed;

void restorePreviousAndReturn(int sig)
{
    // Not a guarded fault: give it back to whoever handled it before us. On
    // return the faulting instruction runs again and reaches that handler.
    sigaction(sig, &g_previous[sig], nullptr);
}

void faultHandler(int sig, siginfo_t *info, void *context)
{
    if (sigjmp_buf *guard = t_guard) {
        t_guard = nullptr;
        siglongjmp(*guard, sig);
    }
    const struct sigaction &previous = g_previous[sig];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(sig, info, context);
        return;
    }
    restorePreviousAndReturn(sig);
}

void installHandlers()
{
    struct sigaction action = {};
    action.sa_sigaction = faultHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : kGuardedSignals)
        sigaction(sig, &action, &g_previous[sig]);
}

// A fault from a stack overflow needs a stack of its own to run the handler on.
struct AlternateStack
{
    std::vector<char> memory;
    bool ours = false;

    void ensure()
    {
        if (ours)
            return;
        stack_t current = {};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE))
            return; // the thread has one already
        memory.resize(64 * 1024);
        stack_t stack = {};
        stack.ss_sp = memory.data();
        stack.ss_size = memory.size();
        ours = sigaltstack(&stack, nullptr) == 0;
    }
    ~AlternateStack()
    {
        if (ours) {
            stack_t off = {};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        }
    }
};

thread_local AlternateStack t_alternateStack;

} // namespace

// The cancellation "exception" of a terminated thread binds to a null
// reference in the catch clause below; that is how the runtime passes it, not
// a fault of ours, so the null check is off for this function.
__attribute__((no_sanitize("null"))) bool VHLinuxExceptionHandler::execute(VHExceptionTask *task)
{
    if (!task)
        return false;
    std::call_once(g_installed, installHandlers);
    t_alternateStack.ensure();

    sigjmp_buf guard;
    sigjmp_buf *const outer = t_guard;
    if (sigsetjmp(guard, 1) != 0) {
        t_guard = outer;
        task->handleException();
        return false;
    }
    t_guard = &guard;
    try {
        const bool result = task->execute();
        t_guard = outer;
        return result;
    } catch (abi::__forced_unwind &) {
        // Thread cancellation unwinds through here and must go on.
        t_guard = outer;
        throw;
    } catch (...) {
        t_guard = outer;
        task->handleException();
        return false;
    }
}
