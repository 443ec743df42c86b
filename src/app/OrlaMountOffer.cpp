#include "OrlaMountOffer.h"

#include "OrlaForm.h"
#include "VHLog.h"

#include <QCoreApplication>

namespace {
QString tr_(const char *text) { return QCoreApplication::translate("orlaform", text); }
} // namespace

OrlaMountOffer::OrlaMountOffer(std::unique_ptr<VHVolumeMounter> mounter, OrlaForm *view,
                               std::function<bool()> deviceShown)
    : m_mounter(std::move(mounter)), m_view(view), m_deviceShown(std::move(deviceShown))
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &OrlaMountOffer::check);
    connect(m_view, &OrlaForm::mountClicked, this, &OrlaMountOffer::mount);
    connect(m_mounter.get(), &VHVolumeMounter::mountFinished, this, &OrlaMountOffer::onMountFinished);
    // A device plugged before the start counts as a change too.
    m_settle.start();
}

OrlaMountOffer::~OrlaMountOffer() = default;

void OrlaMountOffer::onDeviceChange(quint32) { m_settle.start(); }

void OrlaMountOffer::check()
{
    const QList<VHUnmountedVolume> volumes =
        m_deviceShown() ? QList<VHUnmountedVolume>() : m_mounter->unmountedVolumes();
    if (volumes.isEmpty()) {
        m_offered = {};
        m_refusal.clear();
        if (!m_mounting)
            m_view->hideMountOffer();
        return;
    }
    if (volumes.first().node != m_offered.node)
        m_refusal.clear();
    m_offered = volumes.first();
    m_view->showMountOffer(offerText(), !m_mounting);
}

QString OrlaMountOffer::offerText() const
{
    if (m_mounting)
        return tr_("Mounting %1 ...").arg(m_offered.label);
    const QString text = tr_("The device volume %1 is connected but not mounted.").arg(m_offered.label);
    return m_refusal.isEmpty() ? text : text + QLatin1Char('\n') + tr_("Mounting failed: %1").arg(m_refusal);
}

void OrlaMountOffer::mount()
{
    if (m_mounting || m_offered.node.isEmpty())
        return;
    vhDebug() << "the user asks to mount " << m_offered.node;
    m_mounting = true;
    m_refusal.clear();
    m_view->showMountOffer(offerText(), false);
    m_mounter->mount(m_offered.node);
}

void OrlaMountOffer::onMountFinished(const QString &node, bool ok, const QString &mountPointOrReason)
{
    m_mounting = false;
    if (ok) {
        // The new mount arrives as a device change; the device view follows.
        vhDebug() << node << " mounted at " << mountPointOrReason;
        m_view->hideMountOffer();
        m_offered = {};
        return;
    }
    vhWarning() << "mounting " << node << " failed: " << mountPointOrReason;
    m_refusal = mountPointOrReason;
    m_view->showMountOffer(offerText(), true);
}
