#include "VHGalPython.h"

#include "VHExceptionHandler.h"
#include "VHLog.h"
#include "VHPython.h"

#include <pybind11/embed.h>

#include <QMutex>
#include <QMutexLocker>

#include <functional>

namespace py = pybind11;

namespace {

QMutex g_nameMutex;
QString g_moduleName = QStringLiteral("galapi");

// The text of the pending Python error ("Type: message"), which is cleared.
// Plain state calls: pybind11's own error object would take the lock with a
// thread state of its own.
QString takeError()
{
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const py::object typeRef = py::reinterpret_steal<py::object>(type);
    const py::object valueRef = py::reinterpret_steal<py::object>(value);
    const py::object tracebackRef = py::reinterpret_steal<py::object>(traceback);
    QString text = type ? QString::fromUtf8(reinterpret_cast<PyTypeObject *>(type)->tp_name) : QStringLiteral("error");
    if (value) {
        const py::object str = py::reinterpret_steal<py::object>(PyObject_Str(value));
        const char *utf8 = str ? PyUnicode_AsUTF8(str.ptr()) : nullptr;
        if (utf8)
            text += QStringLiteral(": ") + QString::fromUtf8(utf8);
    }
    PyErr_Clear();
    return text;
}

py::object toText(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return py::reinterpret_steal<py::object>(PyUnicode_FromStringAndSize(utf8.constData(), utf8.size()));
}

py::object toList(const QStringList &texts)
{
    py::object list = py::reinterpret_steal<py::object>(PyList_New(0));
    for (const QString &text : texts) {
        const py::object item = toText(text);
        if (!list || !item || PyList_Append(list.ptr(), item.ptr()) != 0)
            return {};
    }
    return list;
}

QString typeName(const py::object &object) { return QString::fromUtf8(Py_TYPE(object.ptr())->tp_name); }

// Runs one call into the module with the lock held. The body builds the
// arguments and checks the result; a raised exception ends as a log line and
// false.
class PythonCallTask : public VHExceptionTask
{
public:
    using Args = std::function<py::object()>;
    using Check = std::function<bool(const py::object &result)>;
    PythonCallTask(const char *function, Args args, Check check)
        : m_function(function), m_args(std::move(args)), m_check(std::move(check))
    {}

    bool execute() override
    {
        PythonGILGuard guard;
        if (!guard.isHeld())
            return false;
        try {
            return run();
        } catch (const std::exception &error) {
            PyErr_Clear();
            vhWarning() << m_function << "failed:" << error.what();
        }
        return false;
    }

    void handleException() override
    {
        // Only a fault or a foreign exception gets here: the frame holding
        // the lock may be gone, so nobody may wait for it again.
        vhCritical() << "fault inside python call" << m_function;
        VHPython::markUnusable();
    }

private:
    bool run()
    {
        const QString name = VHGalPython::moduleName();
        const py::object module = py::reinterpret_steal<py::object>(PyImport_ImportModule(name.toUtf8().constData()));
        if (!module) {
            vhWarning() << "Failed import" << name << takeError();
            return false;
        }
        const py::object function = py::reinterpret_steal<py::object>(PyObject_GetAttrString(module.ptr(), m_function));
        if (!function || !PyCallable_Check(function.ptr())) {
            PyErr_Clear();
            vhWarning() << m_function << "function not found";
            return false;
        }
        const py::object args = m_args();
        if (!args) {
            vhWarning() << m_function << "arguments not built" << takeError();
            return false;
        }
        const py::object result = py::reinterpret_steal<py::object>(PyObject_CallObject(function.ptr(), args.ptr()));
        if (!result) {
            vhWarning() << m_function << "raised:" << takeError();
            return false;
        }
        return m_check(result);
    }

    const char *m_function;
    Args m_args;
    Check m_check;
};

bool runCall(const char *function, PythonCallTask::Args args, PythonCallTask::Check check)
{
    vhDebug() << "GIL for" << function;
    if (!VHPython::isUsable()) {
        vhWarning() << "python unusable, not calling" << function;
        return false;
    }
    PythonCallTask task(function, std::move(args), std::move(check));
    VHLinuxExceptionHandler handler;
    return handler.execute(&task);
}

// A tuple of the given objects; empty when one of them is.
py::object tuple(std::initializer_list<py::object> items)
{
    py::object tuple = py::reinterpret_steal<py::object>(PyTuple_New(Py_ssize_t(items.size())));
    Py_ssize_t index = 0;
    for (const py::object &item : items) {
        if (!tuple || !item)
            return {};
        PyTuple_SET_ITEM(tuple.ptr(), index++, item.inc_ref().ptr());
    }
    return tuple;
}

PythonCallTask::Check boolResult(const char *function)
{
    return [function](const py::object &result) {
        if (PyBool_Check(result.ptr()))
            return result.ptr() == Py_True;
        vhWarning() << function << "returned" << typeName(result) << "instead of a bool";
        return false;
    };
}

} // namespace

bool VHGalPython::createProfileXml(const QString &iniPath, const QString &target)
{
    return runCall(
        "CreateProfileXml",
        [&] {
            return tuple({toText(iniPath), toText(target)});
        },
        boolResult("CreateProfileXml"));
}

bool VHGalPython::createProfileIni(const QStringList &keys, const QStringList &values, const QString &iniPath)
{
    return runCall(
        "CreateProfileIni",
        [&] {
            return tuple({toList(keys), toList(values), toText(iniPath)});
        },
        boolResult("CreateProfileIni"));
}

QStringList VHGalPython::exportBdx(const QString &folder, const QString &model, const QString &versionText,
                                   const QString &pfreadIni, const QString &root)
{
    QStringList files;
    const auto args = [&] {
        return tuple({toText(folder), toText(model), toText(versionText), toText(pfreadIni), toText(root)});
    };
    const auto check = [&](const py::object &result) {
        if (!PyList_Check(result.ptr())) {
            vhWarning() << "ExportBdx returned" << typeName(result) << "instead of a list";
            return false;
        }
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(result.ptr()); ++i) {
            const char *utf8 = PyUnicode_Check(PyList_GET_ITEM(result.ptr(), i))
                                   ? PyUnicode_AsUTF8(PyList_GET_ITEM(result.ptr(), i))
                                   : nullptr;
            if (!utf8) {
                PyErr_Clear();
                vhWarning() << "ExportBdx returned a list with a non-text item";
                return false;
            }
            files << QString::fromUtf8(utf8);
        }
        return true;
    };
    return runCall("ExportBdx", args, check) ? files : QStringList();
}

void VHGalPython::setModuleName(const QString &name)
{
    QMutexLocker lock(&g_nameMutex);
    g_moduleName = name;
}

QString VHGalPython::moduleName()
{
    QMutexLocker lock(&g_nameMutex);
    return g_moduleName;
}
