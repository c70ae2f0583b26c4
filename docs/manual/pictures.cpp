// Takes the operator's manual's pictures of the windows: the real program's
// windows against the simulated instrument on 127.0.0.1, after a few single
// shots and a short continuous sampling run, one set per language; and the
// recording window with a run of two hours split into three files.
//
// Usage: manual_pictures OUTPUT_FOLDER   (run by scripts/manual-pictures.sh)

#include <cmath>
#include <functional>
#include <cstdio>
#include <random>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QLocale>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include "acquisition/mgauge.h"
#include "acquisition/mmesswerte.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "acquisition/sample_list.h"
#include "analysis/mrecording.h"
#include "analysis/mstatistic.h"
#include "analysis/recordingview.h"
#include "app/mmain.h"
#include "files/csv_text.h"
#include "files/mexport.h"
#include "support.h"

namespace {

using tarvelo::guitest::Rig;

bool save(QWidget* window, const QString& path) {
    QTest::qWait(150);  // painted
    const bool ok = window->grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// Two hours of a test stand at 50 samples/s, as tarvelo-cli records it with
// --split 2400: three files of 40 minutes; the instrument is away for five
// minutes in the second. Written once into `folder`.
QStringList writeSplitRun(const QString& folder) {
    tarvelo::acquisition::SampleList captions;
    const char* names[] = {"Force (N)", "Pressure (bar)", "Temperature (\u00b0C)", "Position (mm)"};
    for (int k = 0; k < 4; ++k)
        captions.setCaption(k + 2, names[k]);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double startMs = 1733740200000.0;  // 09.12.2024 10:30:00
    const int stepMs = 20, perFile = 40 * 60 * 1000 / stepMs;
    QStringList paths;
    for (int file = 0; file < 3; ++file) {
        std::string text = tarvelo::files::csvHeaderLine(captions);
        uint64_t number = 0;
        for (int i = file * perFile; i < (file + 1) * perFile; ++i) {
            const double t = i * stepMs / 1000.0;  // seconds into the run
            if (t > 3900 && t < 4200)
                continue;  // the instrument was away
            tarvelo::acquisition::SampleRow row{};
            row.timeMs = startMs + i * stepMs;
            const double load = std::fmod(t, 600.0) < 420.0 ? 1.0 : 0.2;  // cycles of ten minutes
            auto round5 = [](double v) { return std::round(v * 100000.0) / 100000.0; };
            row.channel[0] = round5(250.0 * load + 40.0 * std::sin(t / 9.0) + 3.0 * noise(random));
            row.channel[1] = round5(120.0 + 60.0 * std::sin(t / 1500.0) + 0.8 * noise(random));
            row.channel[2] = round5(20.0 + 30.0 * (1.0 - std::exp(-t / 1800.0)) + 0.3 * noise(random));
            row.channel[3] = round5(-80.0 + 45.0 * std::sin(t * 2.0) * load);
            tarvelo::files::appendCsvLine(text, ++number, row);
        }
        paths.append(folder + QStringLiteral("/stand-%1.csv").arg(file + 1, 4, 10, QLatin1Char('0')));
        QFile out(paths.back());
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
            return {};
    }
    return paths;
}

// The recording window: the whole run opened from its files (chosen in
// another order), then zoomed into two seconds with the cursor line.
bool takeRecording(tarvelo::gui::ThauptFenster& w, const QStringList& run,
                   const std::function<QString(const char*)>& name) {
    auto* window = w.openRecording(QStringList{run[2], run[0], run[1]});
    for (int wait = 0; wait < 600 && !window->recording(); ++wait)
        QTest::qWait(50);
    if (!window->recording())
        return false;
    window->resize(1000, 640);
    QTest::qWait(300);
    bool ok = save(window, name("recording"));

    auto* view = window->view();
    const double at = 1733740200000.0 + 1800.5 * 1000.0;
    view->showView({at, at + 2000.0, false, 0, 1});
    QTest::qWait(100);
    const QPoint point(static_cast<int>(view->xOfTime(at + 1230.0)), view->plotArea().center().y());
    QMouseEvent move(QEvent::MouseMove, QPointF(point), view->mapToGlobal(QPointF(point)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    ok &= save(window, name("recording_zoom"));
    window->close();
    return ok;
}

// Each language with its usual regional format (decimal comma in German and French).
bool takeLanguage(const QString& folder, int language, const char* suffix, QLocale locale,
                  const QStringList& run) {
    QLocale::setDefault(locale);
    tarvelo::sim::InstrumentConfig config;
    config.stream = tarvelo::sim::StreamSignal::Signal;
    config.clockStartMs = 1733740200000.0;  // 09.12.2024 10:30:00, the same in every picture
    Rig rig(true, config);
    rig.writeSettings(
        {QStringLiteral("Language=%1").arg(language), QStringLiteral("SampleRate=4")});
    auto& w = rig.startReady();
    auto name = [&](const char* picture) {
        return folder +
               QStringLiteral("/%1_%2.png").arg(QLatin1String(picture), QLatin1String(suffix));
    };
    bool ok = true;

    for (int shot = 0; shot < 3; ++shot)
        w.SingleShootClick();
    // 20 ms samples for about 6 s: a few periods of every channel.
    w.StartStopTransferClick();
    QTest::qWait(6000);
    w.StartStopTransferClick();
    ok &= save(&w, name("main"));

    // The picture shows the default address in the box. The dialog is hidden again without
    // OK, so nothing is taken over and nothing ever connects to that address.
    rig.windows.config->show();
    rig.windows.config->findChild<QLineEdit*>(QStringLiteral("Edit1"))
        ->setText(QStringLiteral("192.168.100.2"));
    ok &= save(rig.windows.config, name("setup"));
    rig.windows.config->hide();

    w.GrafikClick();
    QTest::qWait(300);
    ok &= save(rig.windows.graph, name("graph"));
    rig.windows.graph->findChild<QCheckBox*>(QStringLiteral("largeValues"))->setChecked(true);
    QTest::qWait(700);
    ok &= save(rig.windows.live, name("live"));
    rig.windows.live->close();

    rig.windows.lineColor->show();
    ok &= save(rig.windows.lineColor, name("colours"));
    rig.windows.lineColor->hide();
    rig.windows.graph->close();

    rig.windows.stat->show();
    ok &= save(rig.windows.stat, name("statistics"));
    rig.windows.stat->hide();

    rig.windows.exportForm->show();
    ok &= save(rig.windows.exportForm, name("export"));
    rig.windows.exportForm->hide();

    rig.windows.gauge->start(26, language);
    rig.windows.gauge->setPosition(9);
    ok &= save(rig.windows.gauge, name("progress"));
    rig.windows.gauge->finish();

    ok &= takeRecording(w, run, name);
    return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: manual_pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    QTemporaryDir runFolder;
    const QStringList run = writeSplitRun(runFolder.path());
    if (run.size() != 3) {
        std::fprintf(stderr, "cannot write the recording\n");
        return 1;
    }
    bool ok = true;
    ok &= takeLanguage(folder, 0, "de", QLocale(QLocale::German, QLocale::Germany), run);
    ok &= takeLanguage(folder, 1, "en", QLocale(QLocale::English, QLocale::UnitedKingdom), run);
    ok &= takeLanguage(folder, 2, "fr", QLocale(QLocale::French, QLocale::France), run);
    return ok ? 0 : 1;
}
