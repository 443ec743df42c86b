#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

// Three-letter ISO 639-2 language codes (bibliographic and terminology) and
// their English names, for the language lists of the devices. "chi" is
// "Chinese Simplified" and "zho" "Chinese Traditional".
class VHLanguageMap : public QObject
{
    Q_OBJECT
public:
    explicit VHLanguageMap(QObject *parent = nullptr);

    // The name for a code in any case; empty for an unknown code.
    QString name(const QString &code) const;
    // Every known code, lower case, in ascending order.
    QStringList codes() const;

private:
    QMap<QString, QString> m_names;
};
