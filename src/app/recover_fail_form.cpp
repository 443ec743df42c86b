#include "recover_fail_form.h"

#include "OrlaWindowActions.h"
#include "OrlaWindowStyle.h"
#include "VHEnv.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {
QString tr_(const char *text) { return QCoreApplication::translate("recover_fail_form", text); }

// A path has no spaces to wrap at; a zero-width space after each "/" lets it
// break between folders instead of running out of the label.
QString breakablePath(QString path) { return path.replace(QLatin1Char('/'), QStringLiteral("/\u200b")); }

// The general text and the reason share the space above the button.
const QRect kMessageAlone(0, 290, 360, 111);
const QRect kMessageAboveDetails(0, 262, 360, 111);
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
    m_msgLabel = label(this, "msg_label", kMessageAlone, Qt::AlignCenter, true);
    m_msgLabel->setFont(pointFont(QFont().pointSize(), false));
    m_detailsLabel = label(this, "details_label", QRect(20, 375, 320, 72), Qt::AlignHCenter | Qt::AlignTop, true);
    // Reasons name files and addresses: shown as they are, never as markup.
    m_detailsLabel->setTextFormat(Qt::PlainText);
    m_detailsLabel->setFont(pointFont(9, false));
    m_detailsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_detailsLabel->hide();
    m_picLabel = label(this, "pic_label", QRect(105, 120, 150, 136), Qt::AlignCenter);
    m_picLabel->setStyleSheet(QStringLiteral("background-image: url(:/cry.png)"));
    m_titleLabel = label(this, "title_label", QRect(0, 20, 360, 71), Qt::AlignCenter, true);
    m_titleLabel->setFont(pointFont(27, true));
    m_titleLabel->setText(QStringLiteral("<font color=\"#00aa00\">%1</font>").arg(tr_("Sorry")));
    connect(m_okButton, &QPushButton::clicked, this, &recover_fail_form::on_backbutton_clicked);
}

recover_fail_form::~recover_fail_form() = default;

void recover_fail_form::setReason(int code, const QString &details)
{
    const QString logPath = VHEnv::instance()->logFilePath();
    QStringList lines;
    if (!details.trimmed().isEmpty())
        lines << details.trimmed();
    if (!logPath.isEmpty())
        lines << tr_("Details are in the log: %1").arg(breakablePath(logPath));
    m_detailsLabel->setText(lines.join(QLatin1Char('\n')));
    m_detailsLabel->setToolTip(logPath);
    m_detailsLabel->setVisible(!lines.isEmpty());
    m_msgLabel->setGeometry(lines.isEmpty() ? kMessageAlone : kMessageAboveDetails);
    if (code == 3)
        m_msgLabel->setText(QStringLiteral("<font size=\"5\">%1</font>").arg(tr_("Not_Enough_Space_Msg")));
    else
        m_msgLabel->setText(QStringLiteral("<font size=\"16\" weight=\"50\" color=\"#00aa00\">%1</font>")
                                .arg(tr_("Fail. Please try again later.")));
}

QString recover_fail_form::details() const { return m_detailsLabel->text().remove(QChar(0x200b)); }

void recover_fail_form::on_backbutton_clicked() { m_controller->refreshMainWindow(false); }
