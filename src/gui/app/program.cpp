#include "app/program.h"

#include <clocale>

#include <QApplication>
#include <QFont>

#include "acquisition/mgauge.h"
#include "acquisition/mmesswerte.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "analysis/mstatistic.h"
#include "app/helpkey.h"
#include "app/menushortcuts.h"
#include "app/process_values.h"
#include "files/mexport.h"

namespace tarvelo::gui {

void useProgramFont() {
    QFont font = QApplication::font();
    font.setPointSize(kProgramFontPoints);
    QApplication::setFont(font);
}

ProgramWindows createProgramWindows(app::ProcessValues& values, Dialogs& dialogs) {
    useProgramFont();
    // The application object took the C library's number format from the
    // regional settings; the libraries that write files (the workbook's XML)
    // format with it and would write "0,7" under German settings, which no
    // reader accepts. The windows take their separators from QLocale.
    std::setlocale(LC_NUMERIC, "C");
    ProgramWindows windows;
    windows.hauptFenster = std::make_unique<ThauptFenster>(values, dialogs);
    ThauptFenster* main = windows.hauptFenster.get();

    windows.about = new Tabout(dialogs, main);
    main->setAboutBox(windows.about);
    windows.config = new Tconfig(values, main);
    main->setConfigDialog(windows.config);
    windows.exportForm = new TFormExport(values.uiText, main);
    main->setExportForm(windows.exportForm);
    windows.initConnection = new TInitConnection(main);
    main->setInitConnection(windows.initConnection);
    windows.graph = new TgraphView(values, main->sampleList(), dialogs, main);
    main->setGraphView(windows.graph);
    main->setGraphApplyLanguage([graph = windows.graph] { graph->ApplyLanguage(); });
    windows.stat = new TstatWindow(values, main->sampleList(), main);
    main->setStatWindow(windows.stat);
    windows.lineColor = new TLineColor(values, main->sampleList(), main);
    windows.lineColor->setGraphView(windows.graph);
    windows.graph->setLineColorDialog(windows.lineColor);
    windows.live = new Tmesswerte(values, main);
    windows.graph->setLiveValueWindow(windows.live);
    windows.gauge = new Tform_gauge(values.uiText, main);
    main->setBatchGauge(windows.gauge);
    // The operator watching the graph or the live values can stop sampling
    // (Alt+S) and use the other menu keys without going back to the main
    // window.
    shareMenuShortcuts(*main->menuBar(), *windows.graph);
    shareMenuShortcuts(*main->menuBar(), *windows.live);
    // F1 opens the manual at the section of the window in front: through the
    // Help item in the windows above, through a key of their own in the
    // dialogs, modal ones included.
    const QList<QWidget*> helpWindows{windows.about, windows.config, windows.exportForm,
                                      windows.initConnection, windows.stat, windows.lineColor,
                                      windows.gauge};
    for (QWidget* window : helpWindows)
        addHelpKey(*window, [main](const QWidget* from) { main->showHelp(from); });
    return windows;
}

}  // namespace tarvelo::gui
