#include "recover_complete_form.h"

#include "OrlaWindowStyle.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMovie>

using namespace OrlaWindowStyle;

namespace {
QString tr_(const char *text) { return QCoreApplication::translate("recover_complete_form", text); }
} // namespace

recover_complete_form::recover_complete_form(bool bikeComputer) : QWidget(nullptr)
{
    setUpWindow(this, QStringLiteral("recover_complete_form"));
    m_msgLabel = label(this, "msg_label", QRect(20, 300, 320, 181), Qt::Alignment(), true);
    m_msgLabel->setFont(pointFont(13));
    m_picLabel = label(this, "pic_label", QRect(50, 120, 250, 157), Qt::AlignCenter);
    m_movie =
        new QMovie(bikeComputer ? QStringLiteral(":/pacer_release_cable.gif") : QStringLiteral(":/release_cable.gif"),
                   QByteArray(), this);
    m_picLabel->setMovie(m_movie);
    m_movie->start();
    m_titleLabel = label(this, "title_label", QRect(0, 20, 360, 71), Qt::AlignCenter, true);
    m_titleLabel->setFont(pointFont(27, true));
    showResult(true);
}

void recover_complete_form::showResult(bool changed)
{
    m_unchanged = !changed;
    m_titleLabel->setText(
        QStringLiteral("<font color=\"#00aa00\">%1</font>").arg(changed ? tr_("Completion") : tr_("Up to date")));
    // Nothing was installed: no cable needs releasing for it.
    m_picLabel->setVisible(changed);
    m_msgLabel->setText(changed ? tr_("Last_Remind_Msg") : tr_("Nothing had to be written to the device."));
}

recover_complete_form::~recover_complete_form() = default;
