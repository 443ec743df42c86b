#pragma once

// A unit of work run under a crash guard.
class VHExceptionTask
{
public:
    virtual ~VHExceptionTask() = default;
    virtual bool execute() = 0;
    virtual void handleException() = 0;
};

class VHIExceptionHandler
{
public:
    virtual ~VHIExceptionHandler() = default;
    // Runs the task; false when the task failed or crashed.
    virtual bool execute(VHExceptionTask *task) = 0;
};

// Runs a task so that neither a C++ exception nor a hardware fault (SIGSEGV,
// SIGBUS, SIGFPE) raised on the calling thread inside the task takes the
// process down: both end in the task's handleException() and a false result.
// Faults outside a guarded task keep their normal, fatal effect.
class VHLinuxExceptionHandler : public VHIExceptionHandler
{
public:
    bool execute(VHExceptionTask *task) override;
};
