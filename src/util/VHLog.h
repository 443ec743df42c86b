#pragma once

// Log call-site helpers. Every runtime message is composed as
// "[" Class::method "]\t[" line "]\t" text, the parts separated by the single
// spaces the debug stream inserts; the message handler of VHEnv adds the time
// and level and writes the line.

#include <QByteArray>
#include <QDebug>

namespace VHLog {
// "bool VHClient::run(int) const" -> "VHClient::run"
QByteArray functionName(const char *prettyFunction);
} // namespace VHLog

#define VH_LOG_PREFIX(stream)                                                                                          \
  stream.noquote() << "[" << VHLog::functionName(Q_FUNC_INFO).constData() << "]\t[" << __LINE__ << "]\t"

#define vhDebug() VH_LOG_PREFIX(qDebug())
#define vhWarning() VH_LOG_PREFIX(qWarning())
#define vhCritical() VH_LOG_PREFIX(qCritical())
