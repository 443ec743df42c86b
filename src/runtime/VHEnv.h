#pragma once

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>

class VHEnvInterface;

// The process-wide environment of the device runtime: the data folder shared
// with the companion product, the settings file, the temporary folder, the log
// and its rotation, and the per-device flags the version checks raise.
class VHEnv
{
public:
    enum LogType { LogDebug = 0, LogWarning = 1, LogCritical = 2 };

    static VHEnv *instance();

    VHEnv();
    ~VHEnv();
    VHEnv(const VHEnv &) = delete;
    VHEnv &operator=(const VHEnv &) = delete;

    // Installs the message handler, fixes the data folder and opens the log.
    // Creates the daemon when there is none yet.
    void init(const QString &mode, const QString &logFileName);
    bool isInitialised() const { return m_initialised; }

    QString dataFolder() const;
    void setDataFolder(const QString &path);
    [[nodiscard]] bool enterDataFolder() const;
    // The data folder + "/" + the "tmpdir" setting; created when missing.
    QString tempFolder() const;
    [[nodiscard]] bool enterTempFolder() const;
    // Removes every file directly in the temporary folder.
    void clearTempFolder() const;
    QString resourcesPath() const;
    QString resourcePath(const QString &name) const { return resourcesPath() + QLatin1Char('/') + name; }
    QString nativeSeparator() const;

    QString settingsFileName() const;
    QString settingsPath() const;
    QString settingValue(const QString &key, const QString &defaultValue) const;
    // A value this process uses instead of the file's (a command-line option);
    // set at start-up, before other threads read settings.
    void overrideSetting(const QString &key, const QString &value) { m_overrides.insert(key, value); }

    QString logFileName() const;
    QString logFilePath() const;
    QString oldLogFilePath() const;
    qint64 maxLogSize() const;
    int debugLevel() const;
    QString uploadFileName() const;

    QString mode() const { return m_mode; }
    static QString applicationVersion() { return QStringLiteral("2.8.0.99"); }
    QString updateServiceUrl(bool beta) const;
    // Base address of the assist-data server; "/current_%1d.alp" is appended.
    QString alpServiceUrl() const;
    // The "cafile" setting: a PEM file of extra certificate authorities to
    // trust beside the system's (a private server); empty when not set.
    QString caFile() const;
    bool isGuiThread() const;

    // Which families the updater window serves: "all" (every family of the
    // runtime) or "fit" (only devices identified by "/System/device.txt").
    enum class DeviceFamilies { All, Fit };
    // The "devicefamilies" setting; an unknown value is logged and serves all.
    DeviceFamilies deviceFamilies() const;

    // Whether packages must carry a signature by a trusted key before they are
    // kept or written: the "signature" setting ("required" or "off"); unset, it
    // is required once any trusted key is installed and not checked before.
    enum class SignaturePolicy { Required, Off, NotChecked };
    SignaturePolicy signaturePolicy() const;

    bool firmwareTooOld() const { return m_firmwareTooOld; }
    void setFirmwareTooOld(bool on) { m_firmwareTooOld = on; }
    bool appTooOld() const { return m_appTooOld; }
    void setAppTooOld(bool on) { m_appTooOld = on; }
    bool restorePending() const { return m_restorePending; }
    void setRestorePending(bool on) { m_restorePending = on; }

    // Copies "MinVHVer" of the package's "Update" group into the model's group
    // of the settings file and lets the current device recompute its flags.
    void updateMinVersion(const QString &model, const QString &iniFile);

    [[nodiscard]] bool openLog(const QString &name);
    void closeLog();
    void flushLog();
    void writeLog(int type, const QByteArray &line);
    // Formats and writes one line as the message handler does.
    void handleMessage(int type, const QString &message);

private:
    int cachedDebugLevel();
    // A server address setting; a plain http one is logged at warning level, once per key.
    QString serviceAddress(const QString &key, const QString &defaultValue) const;
    bool takeFirstPlainHttpNotice(const QString &key) const;

    QString m_startDirectory;
    QString m_dataFolder;
    Qt::HANDLE m_guiThread = nullptr;
    QFile m_log;
    QMutex m_logMutex;
    std::unique_ptr<VHEnvInterface> m_platformPart;
    QString m_mode = QStringLiteral("both");
    std::atomic<int> m_debugLevel{-1000}; // not read yet
    bool m_initialised = false;
    std::atomic<bool> m_firmwareTooOld{false};
    std::atomic<bool> m_appTooOld{false};
    std::atomic<bool> m_restorePending{false};
    QHash<QString, QString> m_overrides;
    mutable QMutex m_noticeMutex;
    mutable QSet<QString> m_plainHttpNoticed;
};
