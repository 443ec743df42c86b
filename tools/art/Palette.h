#pragma once

#include <QImage>

// Turns a picture into one of at most 256 colours (alpha included), so the
// PNG stores one byte a pixel and a palette. Median cut over the picture's
// colours, weighted by how often each occurs; every pixel then takes its
// nearest palette colour, without dithering (the pictures are small and
// drawn, not photographed).
namespace Palette {

// The indexed picture, or a null image when it would differ from the
// original by more than maxRms (root mean square over the channels, 0..255).
QImage reduce(const QImage &image, double maxRms);

} // namespace Palette
