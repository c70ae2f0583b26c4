// Takes the operator's manual's pictures of the windows: the real program's
// windows against the simulated instrument on 127.0.0.1, after a few single
// shots and a short continuous sampling run, one set per language.
//
// Usage: manual_pictures OUTPUT_FOLDER   (run by scripts/manual-pictures.sh)

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QLocale>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include "acquisition/mgauge.h"
#include "acquisition/mmesswerte.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "analysis/mstatistic.h"
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

// Each language with its usual regional format (decimal comma in German and French).
bool takeLanguage(const QString& folder, int language, const char* suffix, QLocale locale) {
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
    bool ok = true;
    ok &= takeLanguage(folder, 0, "de", QLocale(QLocale::German, QLocale::Germany));
    ok &= takeLanguage(folder, 1, "en", QLocale(QLocale::English, QLocale::UnitedKingdom));
    ok &= takeLanguage(folder, 2, "fr", QLocale(QLocale::French, QLocale::France));
    return ok ? 0 : 1;
}
