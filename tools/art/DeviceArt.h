#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

// The device pictures (136 x 202), the model titles (164 x 67) and the
// pictures of the result windows.
namespace DeviceArt {

// Watches by the shape of their face; cycling computers as the small
// monochrome unit or the tall one with a colour map.
enum class Shape { RoundWatch, SquareWatch, BikeComputer, MapComputer };

struct Model
{
    QString name;   // the model name the device reports
    QString family; // first title line
    QString suffix; // second title line, large
    // The name printed on the device itself, e.g. "PACER 50 CR".
    QString label() const { return family + QLatin1Char(' ') + suffix.toUpper(); }
    Shape shape;
    QColor body;
    QColor accent;
};

QList<Model> models();

QImage devicePicture(const Model &model);
QImage titlePicture(const Model &model);
QImage genericDevice();
QImage deviceNotFound();
QImage sadDevice();
// One frame of the release-cable animation; step runs 0..steps-1.
QImage releaseCableFrame(const QImage &backdrop, bool bikeComputer, int step, int steps);

} // namespace DeviceArt
