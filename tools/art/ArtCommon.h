#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

// Shared look of the updater's pictures: the window background, the button
// states, the small icons and the file output.
namespace Art {

constexpr int kWindowWidth = 360;
constexpr int kWindowHeight = 525;

inline const QColor kBrandTeal{0x0f, 0x8b, 0x8d};
inline const QColor kBrandBlue{0x25, 0x63, 0xa6};
inline const QColor kInk{0x1d, 0x2b, 0x3a};

QImage canvas(int width, int height, const QColor &fill = Qt::transparent);
QFont font(int pixelSize, int weight = QFont::Normal, bool italic = false);
void prepare(QPainter &painter);

QImage background(bool beta);

enum class ButtonState { Highlight, MouseOver, Click, Disable };
QImage button(int width, int height, ButtonState state);

QImage roundGlyph(int size, const QString &glyph, bool hovered);
QImage updateBadge();
QImage warningSign();
QImage appIcon(int size, bool opaque);

bool save(const QImage &image, const QString &path);

} // namespace Art
