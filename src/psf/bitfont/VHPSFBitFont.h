#pragma once

#include "VHPSFMultiLangString_1_5.h"

#include <QByteArray>
#include <QFont>
#include <QRect>
#include <QString>

#include <optional>

class QPainter;

// Text drawn as the 1-bit bitmaps of name records. Rendering needs the font
// engine: a GUI application, on its thread.
namespace VHPSFBitFont {

// Pixel size 12 without antialiasing, in the device's own family when it is
// installed, else a sans family present on the machine.
QFont font();

// The rectangle to paint text in. With a width or height, (0, 0) to
// (width - 1, height - 1), text cut at its end until it fits but never below
// 6 characters. With neither, 128 pixels wide and as high as the wrapped text
// plus 16, at most 2000.
QRect calcPaintSize(QPainter &painter, QString &text, int width, int height);

// Renders text; width and height 0 mean a free height on a 128-pixel canvas.
// Sets width and height to the bitmap's, size to its byte count (kept when a
// smaller non-zero size was asked), buffer to those bytes. False with a log
// line when there is no GUI application or this is not its thread.
[[nodiscard]] bool convertToBitfont(const QString &text, int &width, int &height, QByteArray &buffer, int &size);

// A name (one line, 128 x 16) or a description (several lines, up to 0x8000
// bytes) as a name record without a language code.
std::optional<VHPSFMultiLangString_1_5> createBitfont(const QString &text, bool isDesc);

} // namespace VHPSFBitFont
