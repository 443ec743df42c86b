#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;

// Asks which model a watch waiting in its loader is, when nothing was kept
// of the job it waits to finish. Only a confirmed choice leaves the dialog.
class OrlaModelChooser : public QDialog
{
    Q_OBJECT

public:
    explicit OrlaModelChooser(QWidget *parent = nullptr);

    // The models offered, with `guess` preselected when it is one of them.
    void offer(const QStringList &models, const QString &guess);
    QString chosenModel() const;

signals:
    void chosen(const QString &model);

private:
    QLabel *m_questionLabel = nullptr;
    QComboBox *m_models = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
