#include "OrlaTestSupport.h"

#include "HoverLabel.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"

#include <QEnterEvent>
#include <QMovie>
#include <QSignalSpy>

// The four windows over a stand-in for the controller; the controller's own
// part (which window shows when) is tested in tst_OrlaController.

namespace {

// What one named widget of a shown window must look like. `text` is checked
// when not null; `art` names the picture its style sheet paints, and the
// share of that picture's sampled pixels found in the window's shot must
// reach `least` (text drawn over a picture hides part of it).
struct Painted
{
    const char *name;
    QRect geometry;
    const char *text = nullptr;
    const char *art = nullptr;
    double least = 0.9;
};

void checkWindowFrame(QWidget *window, const char *objectName)
{
    QCOMPARE(window->objectName(), QString::fromLatin1(objectName));
    QCOMPARE(window->size(), QSize(360, 525));
    QCOMPARE(window->minimumSize(), QSize(360, 525));
    QCOMPARE(window->maximumSize(), QSize(360, 525));
    QCOMPARE(window->windowTitle(), QStringLiteral("Velora Update"));
    QCOMPARE(window->windowOpacity(), 1.0);
    QVERIFY(window->styleSheet().isEmpty());
    QVERIFY(!window->windowIcon().isNull());
    QVERIFY(!window->parentWidget());
    QCOMPARE(widget<QLabel>(window, "background_label")->geometry(), QRect(0, 0, 360, 525));
}

void checkGeometry(QWidget *window, const QList<Painted> &expected)
{
    for (const Painted &e : expected) {
        QWidget *child = widget<QWidget>(window, e.name);
        QVERIFY2(child, e.name);
        QCOMPARE(child->geometry(), e.geometry);
    }
}

// Every resource a style sheet of the window names exists.
void checkResourcesExist(QWidget *window)
{
    static const QRegularExpression url(QStringLiteral("url\\((:[^)]+)\\)"));
    QList<QWidget *> all = window->findChildren<QWidget *>();
    all << window;
    for (QWidget *w : all) {
        auto it = url.globalMatch(w->styleSheet());
        while (it.hasNext()) {
            const QString resource = it.next().captured(1);
            QVERIFY2(QFile::exists(resource), qPrintable(resource));
        }
    }
}

QString shownText(QWidget *w)
{
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

// The widgets of the window that lie above `w`: later siblings, shown.
QList<QRect> coveringRects(QWidget *window, QWidget *w)
{
    QList<QRect> rects;
    const QObjectList children = window->children();
    for (qsizetype i = children.indexOf(w) + 1; i < children.size(); ++i) {
        auto *above = qobject_cast<QWidget *>(children.at(i));
        if (above && above->isVisibleTo(window))
            rects << above->geometry();
    }
    return rects;
}

bool sameColour(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 4 && qAbs(qGreen(a) - qGreen(b)) <= 4 && qAbs(qBlue(a) - qBlue(b)) <= 4;
}

// Share of the picture's opaque pixels (every third row and column) that the
// shot shows where the widget lies and nothing covers it; -1 when none is free.
double artShown(const QImage &shot, QWidget *window, QWidget *w, const QString &resource)
{
    const QImage art = QImage(resource).convertToFormat(QImage::Format_ARGB32);
    const QList<QRect> covered = coveringRects(window, w);
    int sampled = 0;
    int matched = 0;
    for (int y = 0; y < qMin(art.height(), w->height()); y += 3) {
        for (int x = 0; x < qMin(art.width(), w->width()); x += 3) {
            const QRgb want = art.pixel(x, y);
            const QPoint at = w->geometry().topLeft() + QPoint(x, y);
            if (qAlpha(want) != 255
                || std::any_of(covered.cbegin(), covered.cend(), [at](const QRect &r) { return r.contains(at); }))
                continue;
            ++sampled;
            if (sameColour(shot.pixel(at), want))
                ++matched;
        }
    }
    return sampled ? double(matched) / sampled : -1;
}

void checkPainted(QWidget *window, const QList<Painted> &expected)
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QImage shot = window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(shot.size(), QSize(360, 525));
    for (const Painted &e : expected) {
        QWidget *w = widget<QWidget>(window, e.name);
        QVERIFY2(w, e.name);
        QVERIFY2(w->isVisibleTo(window), e.name);
        QCOMPARE(w->geometry(), e.geometry);
        if (e.text)
            QCOMPARE(shownText(w), QString::fromUtf8(e.text));
        if (e.art) {
            const double shown = artShown(shot, window, w, QString::fromLatin1(e.art));
            QVERIFY2(shown >= e.least, qPrintable(QStringLiteral("%1: %2 of %3 painted")
                                                      .arg(QLatin1String(e.name), QLatin1String(e.art))
                                                      .arg(shown)));
        }
    }
    window->hide();
}

// The four windows, built as the controller builds them before any device is reported.
struct Windows
{
    ActionsStub stub;
    OrlaForm main{&stub, false};
    SoftUpdateForm dialog{&stub};
    recover_complete_form done{false};
    recover_fail_form fail{&stub};
};

} // namespace

class TestOrlaWindows : public QObject
{
    Q_OBJECT

private slots:
    void windowFrames()
    {
        Windows w;
        w.fail.setReason(-7);
        const QList<QPair<QWidget *, const char *>> frames{{&w.main, "Orla_Form"},
                                                           {&w.dialog, "SoftUpdateForm"},
                                                           {&w.done, "recover_complete_form"},
                                                           {&w.fail, "recover_fail_form"}};
        for (const auto &[window, name] : frames) {
            checkWindowFrame(window, name);
            checkResourcesExist(window);
        }
    }

    void mainWindowLayout()
    {
        Windows windows;
        OrlaForm *w = &windows.main;
        // The widgets windowsRender does not show; it checks the others' places and texts.
        checkGeometry(w, {{"remind_label", {180, 120, 170, 90}},
                          {"Msg_label", {20, 220, 320, 60}},
                          {"step_progressBar", {60, 490, 240, 20}},
                          {"download_indicator", {265, 275, 48, 48}},
                          {"device_title_text", {180, 42, 164, 67}},
                          {"version_label", {220, 10, 100, 24}}});
        // Creation order decides what lies on top: the indicator over the button.
        const QObjectList children = w->children();
        QVERIFY(children.indexOf(widget<QWidget>(w, "download_indicator"))
                > children.indexOf(widget<QWidget>(w, "soft_update_button")));
        auto *button = widget<QPushButton>(w, "soft_update_button");
        QVERIFY(button->font().bold());
        QCOMPARE(button->font().pointSize(), 12);
        QVERIFY(button->styleSheet().contains(QStringLiteral("QPushButton:pressed{background:url(:/click_1.png)")));
        auto *count = widget<QLabel>(w, "download_count_label");
        QCOMPARE(count->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(count->alignment(), Qt::AlignCenter);
        auto *indicator = widget<QLabel>(w, "download_indicator");
        QVERIFY(indicator->movie());
        QCOMPARE(indicator->movie()->state(), QMovie::Running);
        QVERIFY(indicator->movie()->isValid());
        QVERIFY(!visible(w, "step_progressBar"));
        QVERIFY(!visible(w, "version_label"));
        QCOMPARE(widget<QLabel>(w, "version_label")->text(), QStringLiteral("v1.0.0.62"));
        // Hovering the help label shows the version.
        w->show();
        auto *about = widget<HoverLabel>(w, "about_label");
        QSignalSpy enters(about, &HoverLabel::mouseEnter);
        QSignalSpy leaves(about, &HoverLabel::mouseLeave);
        QEnterEvent enter(QPointF(5, 5), QPointF(325, 15), QPointF(325, 15));
        QApplication::sendEvent(about, &enter);
        QCOMPARE(enters.size(), 1);
        QVERIFY(widget<QLabel>(w, "version_label")->isVisible());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(about, &leave);
        QCOMPARE(leaves.size(), 1);
        QVERIFY(!widget<QLabel>(w, "version_label")->isVisible());
    }

    void deviceAndJobStates()
    {
        Windows windows;
        OrlaForm *w = &windows.main;
        // windowsRender checks the texts and pictures shown for a model with art.
        w->setDevice(QStringLiteral("Pacer60"), QStringLiteral("0F01AAAABBBBCCCC"), {QStringLiteral("2.1.0")});
        QCOMPARE(widget<QLabel>(w, "device_label")->styleSheet(),
                 QStringLiteral("background-image: url(:/device/Pacer60_device.png)"));
        QCOMPARE(widget<QLabel>(w, "device_title_label")->styleSheet(),
                 QStringLiteral("background-image: url(:/device/Pacer60_title.png)"));
        QVERIFY(!visible(w, "device_title_text"));
        QVERIFY(!visible(w, "remind_label"));
        QVERIFY(widget<QPushButton>(w, "soft_update_button")->isEnabled());
        QVERIFY(widget<QPushButton>(w, "gpsdata_update_button")->isEnabled());
        QVERIFY(!widget<QPushButton>(w, "workout_update_button")->isEnabled());

        // A model without art: the generic picture and the name as large bold text.
        w->setDevice(QStringLiteral("Pacer99"), QStringLiteral("0901AAAABBBBCCCC"), {QStringLiteral("1.0")});
        QCOMPARE(widget<QLabel>(w, "device_label")->styleSheet(),
                 QStringLiteral("background-image: url(:/device/Velora_device.png)"));
        QVERIFY(!visible(w, "device_title_label"));
        auto *title = widget<QLabel>(w, "device_title_text");
        QVERIFY(visible(w, "device_title_text"));
        QCOMPARE(title->text(), QStringLiteral("Pacer99"));
        QVERIFY(title->font().bold());
        QCOMPARE(title->font().pointSize(), 24);
        // Device texts are never taken as markup.
        w->setDevice(QStringLiteral("<b>X</b>"), QStringLiteral("<i>u</i>"), {});
        QCOMPARE(title->textFormat(), Qt::PlainText);
        QCOMPARE(widget<QLabel>(w, "uuid_info_label")->textFormat(), Qt::PlainText);

        // The job operations.
        w->setDevice(QStringLiteral("Pacer60"), QStringLiteral("U"), {QStringLiteral("1.0")});
        w->setGpsUpdating(true);
        QVERIFY(!widget<QPushButton>(w, "gpsdata_update_button")->isEnabled());
        QCOMPARE(widget<QLabel>(w, "Msg_label")->text(), QStringLiteral("Updating GPS data... "));
        QVERIFY(visible(w, "Msg_label"));
        w->setGpsUpdating(false);
        QVERIFY(widget<QPushButton>(w, "gpsdata_update_button")->isEnabled());
        QVERIFY(!visible(w, "Msg_label"));

        w->setProgress(40);
        QVERIFY(visible(w, "step_progressBar"));
        QCOMPARE(widget<QProgressBar>(w, "step_progressBar")->value(), 40);
        w->setProgress(-1);
        QVERIFY(!visible(w, "step_progressBar"));

        w->showChecking();
        QVERIFY(visible(w, "download_indicator") && !visible(w, "download_count_label"));
        w->showUpdateNotice();
        QVERIFY(!visible(w, "download_indicator") && visible(w, "download_count_label"));
        w->hideUpdateIndicators();
        QVERIFY(!visible(w, "download_indicator") && !visible(w, "download_count_label"));

        QVERIFY(!w->workoutsAllowed());
        w->allowWorkouts();
        QVERIFY(widget<QPushButton>(w, "workout_update_button")->isEnabled());
        w->setDevice(QStringLiteral("Pacer21"), QStringLiteral("V"), {QStringLiteral("2.0")});
        QVERIFY(widget<QPushButton>(w, "workout_update_button")->isEnabled());
        w->setDevice(QString(), QString(), {});
        QVERIFY(!widget<QPushButton>(w, "workout_update_button")->isEnabled());
    }

    void versionsText_data()
    {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<QString>("text");
        QTest::newRow("two entries") << QStringList{QStringLiteral("1.2.3"), QStringLiteral("2.0")}
                                     << QStringLiteral("1.2.3\n2.0\n");
        QTest::newRow("empty parts kept") << QStringList{QStringLiteral("1..2")} << QStringLiteral("1..2\n");
        // Too wide for the label: one line, its middle elided, its ends kept.
        QTest::newRow("six parts") << QStringList{QStringLiteral("9.123.0101.77.024.042.7777.8888")} << "9.1…888\n";
        QTest::newRow("long then short") << QStringList{QStringLiteral("1.04.07.2.10.0311.12.203.105"),
                                                        QStringLiteral("5")}
                                         << "1.0…105\n5\n";
        QTest::newRow("none") << QStringList{} << QString();
    }

    void versionsText()
    {
        QFETCH(QStringList, versions);
        QFETCH(QString, text);
        Windows w;
        w.main.setDevice(QStringLiteral("Pacer60"), QStringLiteral("U"), versions);
        auto *label = widget<QLabel>(&w.main, "soft_info_label");
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), versions.size() + 1);
        const QStringList expected = text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < versions.size(); ++i) {
            // Elided: the same two ends around "…"; whole: the entry itself.
            const QString line = lines.at(i);
            QVERIFY2(label->fontMetrics().horizontalAdvance(line) <= label->contentsRect().width(), qPrintable(line));
            const QString wanted = expected.at(i);
            const qsizetype cut = wanted.indexOf(QChar(0x2026));
            if (cut < 0) {
                QCOMPARE(line, wanted);
            } else {
                QVERIFY2(line.contains(QChar(0x2026)), qPrintable(line));
                QVERIFY(line.startsWith(wanted.left(cut)));
                QVERIFY(line.endsWith(wanted.mid(cut + 1)));
            }
        }
        QVERIFY(!label->wordWrap());
        QCOMPARE(label->toolTip(), versions.join(QLatin1Char('\n')));
    }

    void mountOfferReplacesThePleaToConnect()
    {
        Windows w;
        w.main.setDevice(QString(), QString(), {});
        QVERIFY(visible(&w.main, "remind_label"));
        w.main.showMountOffer(QStringLiteral("The device volume X is connected but not mounted."), true);
        QVERIFY(!visible(&w.main, "remind_label"));
        // A refresh of the empty view while the offer stands keeps it alone.
        w.main.setDevice(QString(), QString(), {});
        QVERIFY(!visible(&w.main, "remind_label"));
        w.main.hideMountOffer();
        QVERIFY(visible(&w.main, "remind_label"));
        // With a device shown, withdrawing an offer brings no plea back.
        w.main.setDevice(QStringLiteral("Pacer60"), QStringLiteral("U"), {QStringLiteral("1.0")});
        w.main.hideMountOffer();
        QVERIFY(!visible(&w.main, "remind_label"));
    }

    void dialogAndResultStates()
    {
        Windows w;
        SoftUpdateForm *d = &w.dialog;
        checkGeometry(d, {{"step_progressBar", {45, 350, 280, 30}}}); // windowsRender checks the rest
        QVERIFY(!d->findChild<QLabel *>(QStringLiteral("note_text_label")));
        d->setData(QStringLiteral("2.0"), QStringLiteral("1.5"), QStringLiteral("ignored"));
        auto *list = widget<QListWidget>(d, "soft_update_list");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Device software"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Current: 1.5"));
        QCOMPARE(list->item(2)->text(), QStringLiteral("Update: 2.0"));
        d->setProgress(33);
        QCOMPARE(widget<QProgressBar>(d, "step_progressBar")->value(), 33);
        // setData again starts over.
        d->setData(QStringLiteral("3.0"), QStringLiteral("2.0"), QString());
        QCOMPARE(list->count(), 3);
        QCOMPARE(widget<QProgressBar>(d, "step_progressBar")->value(), 0);
        QVERIFY(!visible(d, "step_progressBar"));
        // The result windows (windowsRender checks their places and texts).
        // Built before any device is reported: the watch animation.
        QCOMPARE(w.done.animation()->fileName(), QStringLiteral(":/release_cable.gif"));
        QVERIFY(w.done.animation()->isValid());
        QVERIFY(w.done.animation()->frameCount() > 1);
        recover_complete_form bike(true);
        QCOMPARE(bike.animation()->fileName(), QStringLiteral(":/pacer_release_cable.gif"));
        QVERIFY(bike.animation()->isValid());
        w.fail.setReason(-7);
        QVERIFY(widget<QLabel>(&w.fail, "msg_label")->text().startsWith(QStringLiteral("<font size=\"16\"")));
    }

    // Under the general or the no-space text: the reason, then where the log is.
    void failureShowsItsReason_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("message");
        QTest::newRow("general, with reason") << 0 << "the package is not a zip archive"
                                              << "<font size=\"16\"";
        QTest::newRow("no space, with reason") << 3 << "12 MiB more needed"
                                               << "<font size=\"5\">";
        QTest::newRow("without reason") << 5 << ""
                                        << "<font size=\"16\"";
        QTest::newRow("markup in a reason") << 0 << "<b>x</b>"
                                            << "<font size=\"16\"";
    }
    void failureShowsItsReason()
    {
        QFETCH(int, code);
        QFETCH(QString, reason);
        QFETCH(QString, message);
        Windows w;
        w.fail.setReason(code, reason);
        QVERIFY(widget<QLabel>(&w.fail, "msg_label")->text().startsWith(message));
        auto *details = widget<QLabel>(&w.fail, "details_label");
        QVERIFY(visible(&w.fail, "details_label"));
        QCOMPARE(details->textFormat(), Qt::PlainText);
        const QString logLine = QStringLiteral("Details are in the log: ") + VHEnv::instance()->logFilePath();
        QCOMPARE(w.fail.details(), reason.isEmpty() ? logLine : reason + QLatin1Char('\n') + logLine);
        QCOMPARE(details->toolTip(), VHEnv::instance()->logFilePath());
        // Text and details do not overlap, and both end above the button.
        const QRect text = widget<QLabel>(&w.fail, "msg_label")->geometry();
        QVERIFY(text.bottom() < details->geometry().top());
        QVERIFY(details->geometry().bottom() < widget<QPushButton>(&w.fail, "OK_button")->geometry().top());
    }

    void buttonsAskTheirActions()
    {
        Windows w;
        ActionsStub &stub = w.stub;
        stub.busy = true;
        w.main.onSoftUpdateClicked();
        w.main.onGpsDataClicked();
        w.main.onWorkoutUpdateClicked();
        QCOMPARE(stub.calls, QStringList(3, QStringLiteral("refuseIfBusy")));
        stub.busy = false;
        stub.calls.clear();
        w.main.onSoftUpdateClicked();
        w.main.onGpsDataClicked();
        w.main.onWorkoutUpdateClicked();
        QCOMPARE(stub.calls, (QStringList{"refuseIfBusy", "offerSoftwareUpdate", "refuseIfBusy", "updateAlp(1)",
                                          "refuseIfBusy", "installWorkouts"}));

        stub.calls.clear();
        w.dialog.onMouseEnter();
        QCOMPARE(widget<QLabel>(&w.dialog, "note_text_label")->text(), QStringLiteral("Release note"));
        w.dialog.onUpdateclicked();
        w.dialog.onCancelclicked();
        QTest::mouseClick(widget<QPushButton>(&w.fail, "OK_button"), Qt::LeftButton);
        QCOMPARE(stub.calls,
                 (QStringList{"note", "startSoftwareUpdate", "refreshMainWindow(0)", "refreshMainWindow(0)"}));
    }

    void artForEveryNamedPicture()
    {
        QStringList names = QStringLiteral("background.png background_beta.png update_noti.png wait_update.gif "
                                           "guide_1.png guide_2.png orla_icon.jpg warning.png info_1.png info_2.png "
                                           "cry.png release_cable.gif pacer_release_cable.gif "
                                           "device/device_notfound.png device/Velora_device.png")
                                .split(QLatin1Char(' '));
        // The buttons' four states, in the wide (1) and the narrow (3) set.
        for (const char *state : {"highlight", "disable", "mouseover", "click"})
            for (int set : {1, 3})
                names << QStringLiteral("%1_%2.png").arg(QLatin1String(state)).arg(set);
        for (const QString &name : std::as_const(names))
            QVERIFY2(!QImage(QStringLiteral(":/") + name).isNull(), qPrintable(name));
        QCOMPARE(QImage(QStringLiteral(":/background.png")).size(), QSize(360, 525));
        QCOMPARE(QImage(QStringLiteral(":/highlight_1.png")).size(), QSize(240, 58));
        QCOMPARE(QImage(QStringLiteral(":/click_3.png")).size(), QSize(140, 50));
        // Every model with a device picture has its title picture too; and there are several.
        const QStringList pictures = QDir(QStringLiteral(":/device")).entryList({QStringLiteral("*_device.png")});
        int models = 0;
        for (const QString &picture : pictures) {
            const QString model = picture.chopped(int(qstrlen("_device.png")));
            if (model == QLatin1String("Velora"))
                continue;
            ++models;
            QVERIFY2(QFile::exists(QStringLiteral(":/device/%1_title.png").arg(model)), qPrintable(model));
            QCOMPARE(QImage(QStringLiteral(":/device/") + picture).size(), QSize(136, 202));
        }
        QVERIFY(models >= 8);
        QVERIFY(!QFile::exists(QStringLiteral(":/device/Pacer99_device.png")));
    }

    // Every model the runtime's table knows or the simulator makes is shown
    // with its own pictures, never the generic one.
    void everyKnownModelHasArt_data()
    {
        QTest::addColumn<QString>("model");
        QStringList models;
        for (const VHModelInfo &row : VHDeviceFamilies::tableRows())
            models << row.modelName;
        // The simulator's defaults, the kinds its command line makes and the demo's watch.
        models << VHSimFitIdentity().model << VHSimGalIdentity().model << VHSimPacer30Options().model
               << OrlaRoad::Options().model;
        models << QStringLiteral("Pacer50") << QStringLiteral("Pacer50CR") << QStringLiteral("Pacer60")
               << QStringLiteral("Pacer30") << QStringLiteral("Pulsar30") << QStringLiteral("Pulsar35")
               << QStringLiteral("Pacer20") << QStringLiteral("Pacer40");
        models.removeDuplicates();
        for (const QString &model : std::as_const(models))
            QTest::newRow(qPrintable(model)) << model;
    }

    void everyKnownModelHasArt()
    {
        QFETCH(QString, model);
        const QString device = QStringLiteral(":/device/%1_device.png").arg(model);
        QCOMPARE(QImage(device).size(), QSize(136, 202));
        QCOMPARE(QImage(QStringLiteral(":/device/%1_title.png").arg(model)).size(), QSize(164, 67));
        Windows windows;
        windows.main.setDevice(model, QStringLiteral("0901AAAABBBBCCCC"), {QStringLiteral("1.0")});
        QCOMPARE(widget<QLabel>(&windows.main, "device_label")->styleSheet(),
                 QStringLiteral("background-image: url(%1)").arg(device));
        QVERIFY(!visible(&windows.main, "device_title_text"));
    }

    // No two models share a picture: each is told apart by its colours and
    // the name it carries.
    void modelPicturesDiffer()
    {
        for (const char *kind : {"_device.png", "_title.png"}) {
            QHash<QByteArray, QString> seen;
            const QStringList files = QDir(QStringLiteral(":/device")).entryList({QLatin1Char('*') + kind});
            QVERIFY(files.size() >= 15);
            for (const QString &file : files) {
                QImage image(QStringLiteral(":/device/") + file);
                image.convertTo(QImage::Format_ARGB32);
                const QByteArray pixels(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
                QVERIFY2(!seen.contains(pixels), qPrintable(file + QStringLiteral(" = ") + seen.value(pixels)));
                seen.insert(pixels, file);
            }
        }
    }

    void windowsRender()
    {
        // Each window as the user sees it: the named widgets in place with their
        // texts, and their pictures (background, device, buttons) really painted.
        Windows w;
        w.main.setDevice(QStringLiteral("Pacer60"), QStringLiteral("0F01AAAABBBBCCCC"), {QStringLiteral("2.1.0")});
        w.main.showUpdateNotice();
        checkPainted(&w.main,
                     {{"background_label", {0, 0, 360, 525}, nullptr, ":/background.png"},
                      {"device_label", {25, 17, 136, 202}, nullptr, ":/device/Pacer60_device.png"},
                      {"device_title_label", {180, 42, 164, 67}, nullptr, ":/device/Pacer60_title.png"},
                      {"uuid_word_label", {180, 120, 40, 20}, "UUID:"},
                      {"uuid_info_label", {220, 120, 130, 20}, "0F01AAAABBBBCCCC"},
                      {"soft_word_label", {180, 140, 60, 70}, "Software Version:"},
                      {"soft_info_label", {250, 140, 110, 70}, "2.1.0\n"},
                      {"soft_update_button", {60, 280, 240, 58}, "Update Software", ":/highlight_1.png", 0.6},
                      {"gpsdata_update_button", {60, 350, 240, 58}, "Update GPS Data", ":/highlight_1.png", 0.6},
                      {"workout_update_button", {60, 420, 240, 58}, "Install Velora Workout", ":/disable_1.png", 0.6},
                      {"download_count_label", {265, 275, 48, 48}, "1", ":/update_noti.png", 0.6},
                      {"about_label", {320, 10, 24, 24}, nullptr, ":/guide_1.png"}});

        w.dialog.setData(QStringLiteral("2.0"), QStringLiteral("1.5"), QString());
        checkPainted(&w.dialog, {{"background_label", {0, 0, 360, 525}, nullptr, ":/background.png"},
                                 {"title_label", {30, 20, 164, 67}, "Software Update"},
                                 {"warning_label", {30, 230, 48, 48}, nullptr, ":/warning.png"},
                                 {"remind_label", {80, 230, 250, 80}, "Backup_Data_Warn_Msg"},
                                 {"Msg_label", {80, 320, 250, 90}, "Force_Update_Device_Msg"},
                                 {"info_label", {305, 75, 24, 24}, nullptr, ":/info_2.png"},
                                 {"soft_update_button", {190, 450, 140, 50}, "Update", ":/highlight_3.png", 0.6},
                                 {"cancel_button", {40, 450, 140, 50}, "Cancel", ":/highlight_3.png", 0.6},
                                 {"soft_update_list", {30, 100, 300, 100}}});

        checkPainted(&w.done, {{"background_label", {0, 0, 360, 525}, nullptr, ":/background.png"},
                               {"msg_label", {20, 300, 320, 181}, "Last_Remind_Msg"},
                               {"pic_label", {50, 120, 250, 157}},
                               {"title_label", {0, 20, 360, 71}, "<font color=\"#00aa00\">Completion</font>"}});

        w.fail.setReason(3);
        checkPainted(&w.fail, {{"background_label", {0, 0, 360, 525}, nullptr, ":/background.png"},
                               {"OK_button", {110, 450, 140, 50}, "OK", ":/highlight_3.png", 0.6},
                               // Raised from y 290 to leave room for the reason and the log's name.
                               {"msg_label", {0, 262, 360, 111}, "<font size=\"5\">Not_Enough_Space_Msg</font>"},
                               {"details_label", {20, 375, 320, 72}},
                               {"pic_label", {105, 120, 150, 136}, nullptr, ":/cry.png"},
                               {"title_label", {0, 20, 360, 71}, "<font color=\"#00aa00\">Sorry</font>"}});
    }
};

QTEST_MAIN(TestOrlaWindows)
#include "tst_OrlaWindows.moc"
