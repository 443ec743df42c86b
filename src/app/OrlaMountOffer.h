#pragma once

#include "VHVolumeMounter.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class OrlaForm;

// Offers, in the main window's no-device view, to mount a USB volume that is
// still not mounted 3 s after the last device change (a desktop without an
// automounter). Nothing is mounted until the user presses "Mount"; a refusal
// is shown in the window.
class OrlaMountOffer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSettleMs = 3000;

    // deviceShown: whether the window shows a device (then nothing is offered).
    OrlaMountOffer(std::unique_ptr<VHVolumeMounter> mounter, OrlaForm *view, std::function<bool()> deviceShown);
    ~OrlaMountOffer() override;

    bool mounting() const { return m_mounting; }

public slots:
    // Any device change: look again once things have settled.
    void onDeviceChange(quint32 event);
    // Looks now.
    void check();

private:
    void mount();
    void onMountFinished(const QString &node, bool ok, const QString &mountPointOrReason);
    QString offerText() const;

    std::unique_ptr<VHVolumeMounter> m_mounter;
    OrlaForm *m_view;
    std::function<bool()> m_deviceShown;
    QTimer m_settle;
    VHUnmountedVolume m_offered;
    bool m_mounting = false;
    QString m_refusal;
};
