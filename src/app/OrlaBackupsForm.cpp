#include "OrlaBackupsForm.h"

#include "OrlaWindowStyle.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

using namespace OrlaWindowStyle;

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaBackupsForm", text); }

} // namespace

OrlaBackupsForm::OrlaBackupsForm() : QWidget(nullptr)
{
    setUpWindow(this, QStringLiteral("OrlaBackupsForm"));
    buildWidgets();
    connect(m_makeButton, &QPushButton::clicked, this, &OrlaBackupsForm::makeRequested);
    connect(m_backButton, &QPushButton::clicked, this, &OrlaBackupsForm::closed);
    connect(m_restoreButton, &QPushButton::clicked, this, [this] {
        if (const Backup backup = chosen(); !backup.path.isEmpty())
            emit restoreRequested(backup.path);
    });
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { setIdle(m_backButton->isEnabled()); });
}

OrlaBackupsForm::~OrlaBackupsForm() = default;

void OrlaBackupsForm::buildWidgets()
{
    m_titleLabel = label(this, "title_label", QRect(30, 20, 300, 50), Qt::Alignment(), true);
    m_titleLabel->setFont(pointFont(16, true));
    m_titleLabel->setText(tr_("Backups"));
    m_list = child<QListWidget>(this, "backup_list", QRect(30, 75, 300, 240));
    m_messageLabel = label(this, "backup_msg_label", QRect(30, 320, 300, 60), Qt::AlignLeft | Qt::AlignTop, true);
    m_messageLabel->setFont(pointFont(11));
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_progressBar = child<QProgressBar>(this, "step_progressBar", QRect(45, 330, 280, 30));
    m_progressBar->hide();
    m_makeButton = dialogButton(this, "make_backup_button", QRect(40, 390, 140, 50), tr_("Make backup"));
    m_restoreButton = dialogButton(this, "restore_backup_button", QRect(190, 390, 140, 50), tr_("Restore"));
    m_backButton = dialogButton(this, "back_button", QRect(110, 450, 140, 50), tr_("Back"));
}

QString OrlaBackupsForm::dateText(const QDateTime &taken)
{
    return QLocale().toString(taken.toLocalTime(), QLocale::ShortFormat);
}

void OrlaBackupsForm::setBackups(QList<Backup> backups, const QString &message)
{
    std::stable_sort(backups.begin(), backups.end(),
                     [](const Backup &a, const Backup &b) { return a.taken > b.taken; });
    m_backups = backups;
    m_list->clear();
    for (const Backup &backup : m_backups) {
        auto *item = new QListWidgetItem(
            QStringLiteral("%1   %2").arg(dateText(backup.taken), QLocale().formattedDataSize(backup.size)), m_list);
        item->setToolTip(backup.path);
    }
    m_messageLabel->setText(!message.isEmpty()    ? message
                            : m_backups.isEmpty() ? tr_("No backups of this watch yet.")
                                                  : QString());
    m_progressBar->hide();
    m_messageLabel->show();
    setIdle(true);
}

OrlaBackupsForm::Backup OrlaBackupsForm::chosen() const { return m_backups.value(m_list->currentRow()); }

void OrlaBackupsForm::choose(int row) { m_list->setCurrentRow(row); }

void OrlaBackupsForm::setWorking(const QString &what)
{
    setIdle(false);
    m_messageLabel->setText(what);
    m_progressBar->setValue(0);
    m_progressBar->show();
    // The bar takes the message's place; the text stays as the bar's tooltip.
    m_progressBar->setToolTip(what);
    m_messageLabel->hide();
}

void OrlaBackupsForm::setProgress(int value) { m_progressBar->setValue(value); }

void OrlaBackupsForm::setIdle(bool idle)
{
    m_list->setEnabled(idle);
    m_makeButton->setEnabled(idle);
    m_backButton->setEnabled(idle);
    m_restoreButton->setEnabled(idle && m_list->currentRow() >= 0);
}
