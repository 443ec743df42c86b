#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

// QSettings reads an INI value holding a comma as a list of texts; the files
// of devices and packages mean the raw text ("COM=0,1,2").
inline QString vhIniText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

inline QString vhIniText(const QSettings &ini, const QString &key, const QString &defaultValue = QString())
{
    const QVariant value = ini.value(key);
    return value.isValid() ? vhIniText(value) : defaultValue;
}
