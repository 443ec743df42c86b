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

struct VHImageMetaInfo
{
    QString name;
    QString version;
    QString model;
    QString date;
    int size = 0;
    int checksum = 0;
    int flags = 0;
};

Q_DECLARE_METATYPE(VHClientShareDataList)
Q_DECLARE_METATYPE(VHClientShareData)
