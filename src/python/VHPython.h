#pragma once

#include <QString>

// The process's one embedded Python interpreter. It starts on the first call
// that needs it (isolated: no PYTHONPATH, no user site, no signal handlers of
// its own) with the resources folder's "python" folder first on its path, and
// then gives up the interpreter lock so that worker threads can take it.
class VHPython
{
public:
    // The folder searched first for modules. Read once, when the interpreter
    // starts; by default the resources folder's "python" folder.
    static void setModuleFolder(const QString &folder);
    static QString moduleFolder();

    // Starts the interpreter when it is not running yet; false when it cannot
    // be used (failed to start, or marked unusable).
    [[nodiscard]] static bool ensureStarted();
    static bool isStarted();

    // A hardware fault inside a Python call leaves the interpreter lock held
    // by a frame that will never run again: nobody may wait for it afterwards.
    static void markUnusable();
    static bool isUsable();
};

// Holds the interpreter lock for its lifetime. A thread that holds it already
// (a nested guard) neither takes nor gives it back.
class PythonGILGuard
{
public:
    PythonGILGuard();
    ~PythonGILGuard();
    PythonGILGuard(const PythonGILGuard &) = delete;
    PythonGILGuard &operator=(const PythonGILGuard &) = delete;

    // False when the interpreter is not usable; the guard then holds nothing.
    bool isHeld() const { return m_held || m_nested; }

private:
    bool m_held = false;
    bool m_nested = false;
    int m_state = 0;
};
