#pragma once

#include <QMetaType>
#include <QString>

// The three strings given to getShareDataList, carried back by its Done signal.
struct VHClientShareDataList
{
    QString first;
    QString second;
    QString third;
};

// The three strings given to getShareData or batch, carried back by their Done signals.
struct VHClientShareData
{
    QString first;
    QString second;
    QString third;
};

// What a package's "release.ini" says about its image: four texts and three
// integers. Fields the file does not give keep these defaults.
struct VHImageMetaInfo
{
    QString name;
    QString langVersion;
    QString imageVersion;
    QString bootLoaderVersion;
    quint32 size = 0;       // bytes
    quint32 imageStart = 0; // byte address in external flash
    quint32 langStart = 0;
};

Q_DECLARE_METATYPE(VHClientShareDataList)
Q_DECLARE_METATYPE(VHClientShareData)
