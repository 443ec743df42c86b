#include "OrlaModelChooser.h"

#include "OrlaWindowStyle.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaModelChooser", text); }

} // namespace

OrlaModelChooser::OrlaModelChooser(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OrlaModelChooser"));
    setWindowTitle(tr_("Which watch?"));
    setFixedSize(320, 200);
    m_questionLabel = label(this, "model_question_label", QRect(20, 12, 280, 84), Qt::AlignLeft | Qt::AlignTop, true);
    m_questionLabel->setFont(pointFont(11));
    m_questionLabel->setText(tr_("Nothing was kept of the update this watch waits to finish. Which model is it?"));
    m_models = child<QComboBox>(this, "model_box", QRect(20, 100, 280, 30));
    m_cancelButton = child<QPushButton>(this, "cancel_button", QRect(20, 146, 130, 40));
    m_cancelButton->setText(tr_("Cancel"));
    m_okButton = child<QPushButton>(this, "ok_button", QRect(170, 146, 130, 40));
    m_okButton->setText(tr_("Recover"));
    m_okButton->setDefault(true);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_okButton, &QPushButton::clicked, this, [this] {
        accept();
        emit chosen(chosenModel());
    });
}

void OrlaModelChooser::offer(const QStringList &models, const QString &guess)
{
    m_models->clear();
    m_models->addItems(models);
    m_models->setCurrentIndex(std::max(0, int(models.indexOf(guess))));
    m_okButton->setEnabled(!models.isEmpty());
}

QString OrlaModelChooser::chosenModel() const { return m_models->currentText(); }
