#pragma once

#include <QByteArray>
#include <QObject>

// Base of the records of the Pacer30 family's data container: a record turns
// itself back into the bytes it was read from. Records the container keeps as
// raw region bytes serialise to nothing.
class VHPSFField : public QObject
{
    Q_OBJECT

public:
    explicit VHPSFField(QObject *parent = nullptr) : QObject(parent) {}
    ~VHPSFField() override = default;

    virtual QByteArray serialize() const { return {}; }
};
