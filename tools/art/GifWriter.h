#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// Writes a looping animated GIF (Qt reads GIF but cannot write it). All frames
// share one palette of at most 255 colours chosen by popularity; pixels with
// alpha below 128 become the transparent index.
class GifWriter
{
public:
    GifWriter(int width, int height) : m_width(width), m_height(height) {}

    // delay in milliseconds (GIF keeps hundredths of a second)
    void addFrame(const QImage &frame, int delayMs);
    bool write(const QString &path) const;
    QByteArray encode() const;

private:
    struct Frame
    {
        QImage image;
        int delayMs;
    };

    QList<Frame> m_frames;
    int m_width;
    int m_height;
};
