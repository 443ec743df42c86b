#pragma once

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QWidget>

// What the updater's four windows share: the fixed 360 x 525 picture-style
// frame, the title, the icon, and small builders for their child widgets.
namespace OrlaWindowStyle {

constexpr int kWidth = 360;
constexpr int kHeight = 525;

// Object name, fixed size, opacity, title, icon and the full-size background.
void setUpWindow(QWidget *window, const QString &objectName,
                 const QString &backgroundSheet = QStringLiteral("background-image: url(:/background.png);"));

QFont pointFont(int pointSize, bool bold = false, bool kerning = false);

template <typename Widget>
Widget *child(QWidget *parent, const char *objectName, const QRect &geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *parent, const char *objectName, const QRect &geometry, Qt::Alignment alignment = Qt::Alignment(),
              bool wordWrap = false);

// "background-image: url(<resource>)" as the windows write it.
QString backgroundImage(const QString &resource);

// The style of the windows' push buttons, painted from picture set 1 (the
// main window's wide buttons) or 3 (the dialogs' narrow ones).
QString buttonSheet(int pictureSet);

// A dialog's narrow push button (picture set 3, 12 points with kerning).
QPushButton *dialogButton(QWidget *parent, const char *objectName, const QRect &geometry, const QString &text);

} // namespace OrlaWindowStyle
