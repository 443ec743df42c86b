#pragma once

// Collects the messages of the Qt message handler while it lives.

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <algorithm>

class LogCapture
{
public:
    LogCapture()
    {
        instance() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        instance() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    bool contains(const QString &part) const { return count(part) > 0; }
    int count(const QString &part) const
    {
        const QStringList all = lines();
        return int(std::count_if(all.begin(), all.end(), [&](const QString &line) { return line.contains(part); }));
    }
    QString all() const { return lines().join(QLatin1Char('\n')); }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    static LogCapture *&instance()
    {
        static LogCapture *current = nullptr;
        return current;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (LogCapture *capture = instance()) {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_lines.append(message);
        }
    }

    mutable QMutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};
