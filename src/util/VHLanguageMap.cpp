#include "VHLanguageMap.h"

#include "VHLanguageTable.h"

VHLanguageMap::VHLanguageMap(QObject *parent) : QObject(parent)
{
    for (int i = 0; i < kVHLanguageTableSize; ++i) {
        m_names.insert(QString::fromLatin1(kVHLanguageTable[i].code), QString::fromUtf8(kVHLanguageTable[i].name));
    }
}

QString VHLanguageMap::name(const QString &code) const { return m_names.value(code.toLower()); }

QStringList VHLanguageMap::codes() const { return m_names.keys(); }
