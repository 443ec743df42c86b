#include "recover_fail_form.h"

#include "OrlaWindowActions.h"
#include "OrlaWindowStyle.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {
QString tr_(const char *text) { return QCoreApplication::translate("recover_fail_form", text); }
} // namespace

recover_fail_form::recover_fail_form(OrlaWindowActions *controller) : QWidget(nullptr), m_controller(controller)
{
    setUpWindow(this, QStringLiteral("recover_fail_form"));
    m_okButton = child<QPushButton>(this, "OK_button", QRect(110, 450, 140, 50));
    m_okButton->setFont(pointFont(12, true));
    m_okButton->setStyleSheet(
        QStringLiteral("QPushButton{background:url(:/highlight_3.png);border:0px;}"
                       "QPushButton:hover{background:url(:/mouseover_3.png);border:0px}"
                       "QPushButton:pressed{background:url(:/click_3.png); position: relative;top: 1px; left: 1px;}"));
    m_okButton->setText(tr_("OK"));
    m_msgLabel = label(this, "msg_label", QRect(0, 290, 360, 111), Qt::AlignCenter, true);
    m_msgLabel->setFont(pointFont(QFont().pointSize(), false));
    m_picLabel = label(this, "pic_label", QRect(105, 120, 150, 136), Qt::AlignCenter);
    m_picLabel->setStyleSheet(QStringLiteral("background-image: url(:/cry.png)"));
    m_titleLabel = label(this, "title_label", QRect(0, 20, 360, 71), Qt::AlignCenter, true);
    m_titleLabel->setFont(pointFont(27, true));
    m_titleLabel->setText(QStringLiteral("<font color=\"#00aa00\">%1</font>").arg(tr_("Sorry")));
    connect(m_okButton, &QPushButton::clicked, this, &recover_fail_form::on_backbutton_clicked);
}

recover_fail_form::~recover_fail_form() = default;

void recover_fail_form::setReason(int code)
{
    if (code == 3)
        m_msgLabel->setText(QStringLiteral("<font size=\"5\">%1</font>").arg(tr_("Not_Enough_Space_Msg")));
    else
        m_msgLabel->setText(QStringLiteral("<font size=\"16\" weight=\"50\" color=\"#00aa00\">%1</font>")
                                .arg(tr_("Fail. Please try again later.")));
}

void recover_fail_form::on_backbutton_clicked() { m_controller->refreshMainWindow(false); }
