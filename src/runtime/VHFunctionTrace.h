#pragma once

#include <QObject>
#include <QString>

// Marks the scope of a long device operation; carries the operation's name.
class VHFunctionTrace : public QObject
{
public:
    explicit VHFunctionTrace(const QString &name) : m_name(name) {}
    QString name() const { return m_name; }

private:
    QString m_name;
};
