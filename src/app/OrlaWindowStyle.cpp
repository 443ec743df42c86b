#include "OrlaWindowStyle.h"

#include <QIcon>

namespace OrlaWindowStyle {

void setUpWindow(QWidget *window, const QString &objectName, const QString &backgroundSheet)
{
    window->setObjectName(objectName);
    window->setEnabled(true);
    window->resize(kWidth, kHeight);
    window->setMinimumSize(kWidth, kHeight);
    window->setMaximumSize(kWidth, kHeight);
    window->setWindowOpacity(1.0);
    window->setStyleSheet(QString());
    window->setWindowTitle(QStringLiteral("Velora Update"));
    window->setWindowIcon(QIcon(QStringLiteral(":/orla_icon.jpg")));
    QLabel *background = label(window, "background_label", QRect(0, 0, kWidth, kHeight));
    background->setStyleSheet(backgroundSheet);
}

QFont pointFont(int pointSize, bool bold, bool kerning)
{
    QFont f;
    f.setPointSize(pointSize);
    f.setBold(bold);
    f.setKerning(kerning);
    return f;
}

QLabel *label(QWidget *parent, const char *objectName, const QRect &geometry, Qt::Alignment alignment, bool wordWrap)
{
    auto *widget = child<QLabel>(parent, objectName, geometry);
    if (alignment)
        widget->setAlignment(alignment);
    widget->setWordWrap(wordWrap);
    return widget;
}

QString backgroundImage(const QString &resource) { return QStringLiteral("background-image: url(%1)").arg(resource); }

QString buttonSheet(int pictureSet)
{
    return QStringLiteral(
               "QPushButton:enabled{background:url(:/highlight_%1.png);border:0px;}"
               "QPushButton:disabled{background:url(:/disable_%1.png);border:0px;}"
               "QPushButton:hover{background:url(:/mouseover_%1.png);border:0px}"
               "QPushButton:pressed{background:url(:/click_%1.png); position: relative;top: 1px; left: 1px;}")
        .arg(pictureSet);
}

QPushButton *dialogButton(QWidget *parent, const char *objectName, const QRect &geometry, const QString &text)
{
    auto *button = child<QPushButton>(parent, objectName, geometry);
    button->setFont(pointFont(12, false, true));
    button->setStyleSheet(buttonSheet(3));
    button->setText(text);
    return button;
}

} // namespace OrlaWindowStyle
