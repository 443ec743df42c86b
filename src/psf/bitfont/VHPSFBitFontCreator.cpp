#include "VHPSFBitFontCreator.h"

#include "VHLog.h"
#include "VHPSFBitFont.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMutexLocker>
#include <QThread>

VHPSFBitFontCreatorSupport::VHPSFBitFontCreatorSupport(QObject *parent) : QObject(parent)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!parent && app && thread() != app->thread())
        moveToThread(app->thread());
    connect(this, &VHPSFBitFontCreatorSupport::bitfontRequested, this, &VHPSFBitFontCreatorSupport::doCreateBitfont,
            Qt::BlockingQueuedConnection);
}

std::optional<VHPSFMultiLangString_1_5> VHPSFBitFontCreatorSupport::createBitfont(const QString &text, bool isDesc)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        vhCritical() << "bit font: no GUI application to render with";
        return std::nullopt;
    }
    // A blocking queued call into one's own thread never returns.
    if (QThread::currentThread() == thread())
        return VHPSFBitFont::createBitfont(text, isDesc);
    QMutexLocker lock(&m_requestMutex);
    m_result.reset();
    emit bitfontRequested(text, isDesc);
    return std::exchange(m_result, std::nullopt);
}

void VHPSFBitFontCreatorSupport::doCreateBitfont(QString text, bool isDesc)
{
    m_result = VHPSFBitFont::createBitfont(text, isDesc);
}
