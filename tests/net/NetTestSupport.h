#pragma once

// Shared pieces of the network tests: a server in a temporary root, the
// environment pointed at it, and small file and log helpers.

#include "VHPackageServer.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

// Files of a folder other than the expected ones, such as left-over temporaries.
inline QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The log lines written since the watch was made.
class LogWatch
{
public:
    LogWatch() : m_start(readTestLog().size()) {}
    QString text() const { return readTestLog().mid(m_start); }
    bool contains(const QString &part) const { return text().contains(part); }

private:
    qsizetype m_start;
};

// One package server over a temporary root, and the environment's settings
// pointing the update, beta and assist-data addresses at it.
class NetTestWorld
{
public:
    bool start()
    {
        m_server = std::make_unique<VHPackageServer>(m_root.path());
        if (!m_server->listen())
            return false;
        setLogLevel(QStringLiteral("1"));
        return true;
    }

    // The "debug" setting: "1" logs everything, "2" (the shipped level) drops debug lines.
    void setLogLevel(const QString &level)
    {
        initTestEnv(m_xdg.path(), {{QStringLiteral("debug"), level},
                                   {QStringLiteral("updateurl"), m_server->updateUrl()},
                                   {QStringLiteral("betaupdateurl"), betaUrl()},
                                   {QStringLiteral("alpurl"), m_server->baseUrl()}});
    }

    // Runs `exchange` at the shipped log level and gives what it logged; `ok`
    // tells whether the exchange succeeded.
    template <typename Exchange>
    QString logAtShippedLevel(Exchange exchange, bool &ok)
    {
        setLogLevel(QStringLiteral("2"));
        const LogWatch log;
        ok = exchange();
        const QString text = log.text();
        setLogLevel(QStringLiteral("1"));
        return text;
    }

    // Points the update address elsewhere until the next setLogLevel.
    void setUpdateUrl(const QString &url)
    {
        initTestEnv(m_xdg.path(), {{QStringLiteral("debug"), QStringLiteral("1")},
                                   {QStringLiteral("updateurl"), url},
                                   {QStringLiteral("betaupdateurl"), betaUrl()},
                                   {QStringLiteral("alpurl"), m_server->baseUrl()}});
    }

    VHPackageServer &server() { return *m_server; }
    QString root() const { return m_root.path(); }
    QString betaUrl() const { return m_server->baseUrl() + QStringLiteral("/beta/versions/index"); }
    QString updatesDir() const { return VHEnv::instance()->dataFolder() + QStringLiteral("/updates"); }
    QString modelDir(const QString &model) const { return updatesDir() + QLatin1Char('/') + model; }

    // Fresh state for the next case: no faults, no requests, no model folders.
    void reset()
    {
        m_server->clearFaults();
        m_server->clearRequestLog();
        m_server->setSlowPause(90000);
        QDir(updatesDir()).removeRecursively();
    }

private:
    QTemporaryDir m_root;
    QTemporaryDir m_xdg;
    std::unique_ptr<VHPackageServer> m_server;
};
