#include "VHPython.h"

#include "VHEnv.h"
#include "VHLog.h"

#include <pybind11/embed.h>

#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <atomic>

namespace py = pybind11;

namespace {

QMutex g_startMutex;
QString g_moduleFolder;
std::atomic<bool> g_started{false};
std::atomic<bool> g_failed{false};
std::atomic<bool> g_unusable{false};

bool startInterpreter(const QString &folder)
{
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    // The host owns SIGINT, SIGSEGV and friends (the crash guard among them).
    config.install_signal_handlers = 0;
    config.user_site_directory = 0;
    config.use_environment = 0;
    try {
        py::initialize_interpreter(&config, 0, nullptr, false);
    } catch (const std::exception &error) {
        vhCritical() << "python start failed:" << error.what();
        return false;
    }
    // Borrowed reference; the folder goes first so our module wins.
    PyObject *path = PySys_GetObject("path");
    const QByteArray utf8 = folder.toUtf8();
    const py::object entry =
        py::reinterpret_steal<py::object>(PyUnicode_FromStringAndSize(utf8.constData(), utf8.size()));
    const bool pathSet = path && entry && PyList_Check(path) && PyList_Insert(path, 0, entry.ptr()) == 0;
    if (!pathSet) {
        PyErr_Clear();
        vhCritical() << "python path not set";
    }
    // Hand the lock over: from here on every caller takes it with a guard.
    PyEval_SaveThread();
    return pathSet;
}

} // namespace

void VHPython::setModuleFolder(const QString &folder)
{
    QMutexLocker lock(&g_startMutex);
    g_moduleFolder = folder;
}

QString VHPython::moduleFolder()
{
    QMutexLocker lock(&g_startMutex);
    if (!g_moduleFolder.isEmpty())
        return g_moduleFolder;
    return VHEnv::instance()->resourcePath(QStringLiteral("python"));
}

bool VHPython::ensureStarted()
{
    if (g_unusable.load())
        return false;
    if (g_started.load())
        return !g_failed.load();
    const QString folder = moduleFolder();
    QMutexLocker lock(&g_startMutex);
    if (!g_started.load()) {
        vhDebug() << "starting python with module folder" << folder;
        g_failed.store(!startInterpreter(folder));
        g_started.store(true);
    }
    return !g_failed.load();
}

bool VHPython::isStarted() { return g_started.load(); }

void VHPython::markUnusable()
{
    if (!g_unusable.exchange(true))
        vhCritical() << "python is unusable for the rest of this run";
}

bool VHPython::isUsable() { return !g_unusable.load() && !g_failed.load(); }

PythonGILGuard::PythonGILGuard()
{
    if (!VHPython::ensureStarted()) {
        vhWarning() << "python not available";
        return;
    }
    if (PyGILState_Check()) {
        m_nested = true;
        return;
    }
    vhDebug() << "acquiring GIL" << quintptr(QThread::currentThreadId());
    m_state = int(PyGILState_Ensure());
    m_held = true;
}

PythonGILGuard::~PythonGILGuard()
{
    if (!m_held)
        return;
    vhDebug() << "release GIL";
    PyGILState_Release(PyGILState_STATE(m_state));
}
