#pragma once

#include "VHPSFMultiLangString_1_5.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <optional>

// Makes the name record of a text (a one-line name, or a description).
class VHPSFBitFontCreator
{
public:
    virtual ~VHPSFBitFontCreator() = default;
    virtual std::optional<VHPSFMultiLangString_1_5> createBitfont(const QString &text, bool isDesc) = 0;
};

// Renders on the GUI thread for any caller. It lives in the GUI thread (one
// made elsewhere moves there, or a worker would wait for itself); a request
// from that thread renders directly, one from a worker goes through a
// blocking queued connection while the worker waits.
class VHPSFBitFontCreatorSupport : public QObject, public VHPSFBitFontCreator
{
    Q_OBJECT

public:
    explicit VHPSFBitFontCreatorSupport(QObject *parent = nullptr);

    std::optional<VHPSFMultiLangString_1_5> createBitfont(const QString &text, bool isDesc) override;

signals:
    void bitfontRequested(QString text, bool isDesc);

private slots:
    void doCreateBitfont(QString text, bool isDesc);

private:
    QMutex m_requestMutex; // one worker request at a time owns m_result
    std::optional<VHPSFMultiLangString_1_5> m_result;
};
