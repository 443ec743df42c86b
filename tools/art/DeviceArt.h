#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

// The device pictures (136 x 202), the model titles (164 x 67) and the
// pictures of the result windows.
namespace DeviceArt {

enum class Shape { RoundWatch, SquareWatch, BikeComputer };

struct Model
{
    QString name;   // the model name the device reports
    QString family; // first title line
    QString suffix; // second title line, large
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
