#pragma once

#include <QString>
#include <QStringList>

// The calls of the GAL family's data operations into the helper module
// "galapi". Each takes the interpreter lock for its duration, runs under the
// crash guard, and reports a missing module or function, a raised exception
// or a result of the wrong type as failure with a log line.
namespace VHGalPython {

// Writes the profile of the ini file at iniPath as XML to target.
[[nodiscard]] bool createProfileXml(const QString &iniPath, const QString &target);
// Writes keys[i]=values[i] as the profile ini file at iniPath.
[[nodiscard]] bool createProfileIni(const QStringList &keys, const QStringList &values, const QString &iniPath);
// Writes what the device's raw data gives into folder; the files written.
QStringList exportBdx(const QString &folder, const QString &model, const QString &versionText, const QString &pfreadIni,
                      const QString &root);

// The module imported; tests point it at their own variants.
void setModuleName(const QString &name);
QString moduleName();

} // namespace VHGalPython
