#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

// Chooses the languages of a language update: the pack's languages, the
// device's current ones ticked once they are read. Its buttons only ask; the
// controller checks the choice and starts the update.
class OrlaLanguageForm : public QWidget
{
    Q_OBJECT

public:
    struct Language
    {
        QString code; // three letters, as the device stores it
        QString name; // in words, in the language itself where known
    };

    OrlaLanguageForm();
    ~OrlaLanguageForm() override;

    // The languages a pack offers; nothing ticked and the update held until
    // tickOnDevice tells which ones the device holds.
    void setLanguages(const QList<Language> &languages);
    // Ticks the device's languages (ones the pack lacks are left out) and lets
    // the user choose.
    void tickOnDevice(const QStringList &codes);
    QStringList chosenCodes() const;
    void setChosen(const QStringList &codes);
    // Why the choice was not started; the user may choose again.
    void refuse(const QString &reason);
    // The update runs: nothing can be changed, the bar shows how far it is.
    void setUpdating();
    void setProgress(int value);

    // The name of a language code in words ("Deutsch" for "deu"); empty when unknown.
    static QString languageName(const QString &code);

signals:
    void updateRequested(const QStringList &codes);
    void cancelled();

private:
    void buildWidgets();
    void setChoosing(bool choosing);

    QLabel *m_titleLabel = nullptr;
    QLabel *m_hintLabel = nullptr;
    QLabel *m_messageLabel = nullptr;
    QListWidget *m_list = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_updateButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
