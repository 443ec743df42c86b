#pragma once

#include <QWidget>

class QLabel;
class QMovie;

// Shown after a successful software update: asks the user to release the
// cable so the device can install the new software.
class recover_complete_form : public QWidget
{
    Q_OBJECT

public:
    // bikeComputer picks the animation of a device that is not a watch.
    explicit recover_complete_form(bool bikeComputer);
    ~recover_complete_form() override;

    QMovie *animation() const { return m_movie; }
    // A job that had nothing to write says so instead of "Completion".
    void showResult(bool changed);
    bool showsUnchanged() const { return m_unchanged; }

private:
    QLabel *m_msgLabel = nullptr;
    QLabel *m_picLabel = nullptr;
    QLabel *m_titleLabel = nullptr;
    QMovie *m_movie = nullptr; // child of the window
    bool m_unchanged = false;
};
