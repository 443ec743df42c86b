#include "OrlaLanguageForm.h"

#include "OrlaWindowStyle.h"
#include "VHLanguageMap.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaLanguageForm", text); }

// The locale that speaks a device's code: "chi" is written in simplified and
// "zho" in traditional characters on these devices.
QLocale localeOf(const QString &code)
{
    if (code == QLatin1String("chi"))
        return QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    if (code == QLatin1String("zho"))
        return QLocale(QLocale::Chinese, QLocale::TraditionalHanScript, QLocale::Taiwan);
    return QLocale(QLocale::codeToLanguage(code, QLocale::ISO639Part2));
}

} // namespace

OrlaLanguageForm::OrlaLanguageForm() : QWidget(nullptr)
{
    setUpWindow(this, QStringLiteral("OrlaLanguageForm"));
    buildWidgets();
    connect(m_cancelButton, &QPushButton::clicked, this, &OrlaLanguageForm::cancelled);
    connect(m_updateButton, &QPushButton::clicked, this, [this] { emit updateRequested(chosenCodes()); });
}

OrlaLanguageForm::~OrlaLanguageForm() = default;

void OrlaLanguageForm::buildWidgets()
{
    m_titleLabel = label(this, "title_label", QRect(30, 20, 300, 50), Qt::Alignment(), true);
    m_titleLabel->setFont(pointFont(16, true));
    m_titleLabel->setText(tr_("Languages"));
    m_hintLabel = label(this, "language_hint_label", QRect(30, 70, 300, 60), Qt::AlignLeft | Qt::AlignTop, true);
    m_hintLabel->setFont(pointFont(11));
    m_hintLabel->setText(tr_("Tick the languages the watch should have. The ones it has now are ticked."));
    m_list = child<QListWidget>(this, "language_list", QRect(30, 135, 300, 230));
    m_messageLabel = label(this, "language_msg_label", QRect(30, 370, 300, 70), Qt::AlignLeft | Qt::AlignTop, true);
    m_messageLabel->setFont(pointFont(11));
    // Reasons may come from a device or a package: never shown as markup.
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_progressBar = child<QProgressBar>(this, "step_progressBar", QRect(45, 380, 280, 30));
    m_progressBar->hide();
    m_cancelButton = dialogButton(this, "cancel_button", QRect(40, 450, 140, 50), tr_("Cancel"));
    m_updateButton = dialogButton(this, "language_update_button", QRect(190, 450, 140, 50), tr_("Update"));
}

QString OrlaLanguageForm::languageName(const QString &code)
{
    const QLocale locale = localeOf(code);
    QString name = locale.language() == QLocale::C ? QString() : locale.nativeLanguageName();
    if (name.isEmpty())
        name = VHLanguageMap().name(code);
    if (!name.isEmpty())
        name[0] = name.at(0).toUpper();
    return name;
}

void OrlaLanguageForm::setLanguages(const QList<Language> &languages)
{
    m_list->clear();
    for (const Language &language : languages) {
        auto *item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(language.name, language.code), m_list);
        item->setData(Qt::UserRole, language.code);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Unchecked);
    }
    m_messageLabel->setText(tr_("Reading the languages on the watch..."));
    m_progressBar->setValue(0);
    m_progressBar->hide();
    m_messageLabel->show();
    m_cancelButton->setEnabled(true);
    // Nothing is chosen before the device's languages are known.
    setChoosing(false);
}

void OrlaLanguageForm::tickOnDevice(const QStringList &codes)
{
    setChosen(codes);
    m_messageLabel->clear();
    setChoosing(true);
}

QStringList OrlaLanguageForm::chosenCodes() const
{
    QStringList codes;
    for (int row = 0; row < m_list->count(); ++row) {
        const QListWidgetItem *item = m_list->item(row);
        if (item->checkState() == Qt::Checked)
            codes.append(item->data(Qt::UserRole).toString());
    }
    return codes;
}

void OrlaLanguageForm::setChosen(const QStringList &codes)
{
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem *item = m_list->item(row);
        item->setCheckState(codes.contains(item->data(Qt::UserRole).toString()) ? Qt::Checked : Qt::Unchecked);
    }
}

void OrlaLanguageForm::refuse(const QString &reason)
{
    m_messageLabel->setText(reason);
    m_messageLabel->show();
    setChoosing(true);
}

void OrlaLanguageForm::setUpdating()
{
    setChoosing(false);
    m_cancelButton->setEnabled(false);
    m_messageLabel->hide();
    m_progressBar->setValue(0);
    m_progressBar->show();
}

void OrlaLanguageForm::setProgress(int value) { m_progressBar->setValue(value); }

void OrlaLanguageForm::setChoosing(bool choosing)
{
    m_list->setEnabled(choosing);
    m_updateButton->setEnabled(choosing);
}
