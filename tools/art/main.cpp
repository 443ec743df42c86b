// Draws every picture and animation the updater's windows name and writes
// them into one folder (src/app/images when run by make-art.sh). Everything
// is drawn here from code; nothing is taken from elsewhere.
//
//   velora-art <output folder>

#include "ArtCommon.h"
#include "DeviceArt.h"
#include "GifWriter.h"
#include "Palette.h"

#include <QDir>
#include <QGuiApplication>
#include <QImageReader>
#include <QTextStream>

#include <cmath>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// A difference the eye does not see on the window's light background.
constexpr double kPaletteMaxRms = 2.0;

class Output
{
public:
    explicit Output(const QString &folder) : m_folder(folder) { QDir().mkpath(folder + QStringLiteral("/device")); }

    void image(const QString &name, const QImage &picture)
    {
        if (!Art::save(picture, m_folder + QLatin1Char('/') + name))
            fail(name);
    }

    void animation(const QString &name, const GifWriter &gif, int expectedFrames)
    {
        const QString path = m_folder + QLatin1Char('/') + name;
        if (!gif.write(path))
            return fail(name);
        // Read it back with Qt's own decoder: the windows play it through QMovie.
        QImageReader reader(path);
        int frames = 0;
        while (reader.canRead() && !reader.read().isNull())
            ++frames;
        if (frames != expectedFrames) {
            err() << name << ": read back " << frames << " frames, wrote " << expectedFrames << Qt::endl;
            m_ok = false;
        }
    }

    // The device art in 256 colours when that looks the same; the
    // resources carry one pair per model, so their size adds up.
    void compactImage(const QString &name, const QImage &picture)
    {
        const QImage reduced = Palette::reduce(picture, kPaletteMaxRms);
        image(name, reduced.isNull() ? picture : reduced);
    }

    bool ok() const { return m_ok; }

private:
    void fail(const QString &name)
    {
        err() << "cannot write " << name << Qt::endl;
        m_ok = false;
    }

    QString m_folder;
    bool m_ok = true;
};

GifWriter spinner()
{
    constexpr int frames = 12;
    GifWriter gif(48, 48);
    for (int frame = 0; frame < frames; ++frame) {
        QImage image = Art::canvas(48, 48);
        QPainter p(&image);
        Art::prepare(p);
        p.setPen(Qt::NoPen);
        for (int dot = 0; dot < frames; ++dot) {
            const double angle = dot * 2 * M_PI / frames - M_PI / 2;
            const int age = (frame - dot + frames) % frames; // 0 = the leading dot
            const QColor colour = QColor::fromRgbF(0.15 + age * 0.06, 0.45 + age * 0.04, 0.83 + age * 0.012);
            p.setBrush(colour);
            p.drawEllipse(QPointF(24 + std::cos(angle) * 15, 24 + std::sin(angle) * 15), 4.2 - age * 0.18,
                          4.2 - age * 0.18);
        }
        p.end();
        gif.addFrame(image, 80);
    }
    return gif;
}

// Pixels the drawing left as they were become transparent, so the window's
// own background shows through them untouched by the GIF palette; drawn
// edges keep the colour they got over the background.
QImage cutOut(const QImage &frame, const QImage &backdrop)
{
    QImage out = frame.convertToFormat(QImage::Format_ARGB32);
    const QImage under = backdrop.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        const QRgb *base = reinterpret_cast<const QRgb *>(under.constScanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if (line[x] == base[x])
                line[x] = qRgba(0, 0, 0, 0);
    }
    return out;
}

GifWriter releaseCable(const QImage &background, bool bikeComputer, int frames)
{
    // The animation sits at (50, 120) on the result window's background.
    const QImage backdrop = background.copy(50, 120, 250, 157);
    GifWriter gif(250, 157);
    for (int step = 0; step < frames; ++step)
        gif.addFrame(cutOut(DeviceArt::releaseCableFrame(backdrop, bikeComputer, step, frames), backdrop),
                     step == frames - 1 ? 900 : 110);
    return gif;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        err() << "usage: velora-art <output folder>" << Qt::endl;
        return 2;
    }
    Output out(QString::fromLocal8Bit(argv[1]));
    const QImage background = Art::background(false);
    out.image(QStringLiteral("background.png"), background);
    out.image(QStringLiteral("background_beta.png"), Art::background(true));

    const struct
    {
        const char *suffix;
        int width, height;
    } buttonSets[] = {{"_1", 240, 58}, {"_3", 140, 50}};
    for (const auto &set : buttonSets) {
        using S = Art::ButtonState;
        const QString suffix = QString::fromLatin1(set.suffix) + QStringLiteral(".png");
        out.image(QStringLiteral("highlight") + suffix, Art::button(set.width, set.height, S::Highlight));
        out.image(QStringLiteral("mouseover") + suffix, Art::button(set.width, set.height, S::MouseOver));
        out.image(QStringLiteral("click") + suffix, Art::button(set.width, set.height, S::Click));
        out.image(QStringLiteral("disable") + suffix, Art::button(set.width, set.height, S::Disable));
    }

    out.image(QStringLiteral("guide_1.png"), Art::roundGlyph(24, QStringLiteral("?"), false));
    out.image(QStringLiteral("guide_2.png"), Art::roundGlyph(24, QStringLiteral("?"), true));
    out.image(QStringLiteral("info_2.png"), Art::roundGlyph(24, QStringLiteral("i"), false));
    out.image(QStringLiteral("info_1.png"), Art::roundGlyph(24, QStringLiteral("i"), true));
    out.image(QStringLiteral("update_noti.png"), Art::updateBadge());
    out.image(QStringLiteral("warning.png"), Art::warningSign());
    out.image(QStringLiteral("cry.png"), DeviceArt::sadDevice());
    out.image(QStringLiteral("orla_icon.jpg"), Art::appIcon(128, true));
    out.image(QStringLiteral("veloraupdate.png"), Art::appIcon(256, false));

    out.animation(QStringLiteral("wait_update.gif"), spinner(), 12);
    out.animation(QStringLiteral("release_cable.gif"), releaseCable(background, false, 14), 14);
    out.animation(QStringLiteral("pacer_release_cable.gif"), releaseCable(background, true, 14), 14);

    out.compactImage(QStringLiteral("device/device_notfound.png"), DeviceArt::deviceNotFound());
    out.compactImage(QStringLiteral("device/Velora_device.png"), DeviceArt::genericDevice());
    for (const DeviceArt::Model &model : DeviceArt::models()) {
        out.compactImage(QStringLiteral("device/%1_device.png").arg(model.name), DeviceArt::devicePicture(model));
        out.compactImage(QStringLiteral("device/%1_title.png").arg(model.name), DeviceArt::titlePicture(model));
    }
    return out.ok() ? 0 : 1;
}
