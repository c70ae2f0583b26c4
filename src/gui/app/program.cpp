#include "app/program.h"

#include "app/process_values.h"

namespace tarvelo::gui {

ProgramWindows createProgramWindows(app::ProcessValues& values, Dialogs& dialogs) {
    ProgramWindows windows;
    windows.hauptFenster = std::make_unique<ThauptFenster>(values, dialogs);
    ThauptFenster* main = windows.hauptFenster.get();

    windows.about = new Tabout(dialogs, main);
    main->setAboutBox(windows.about);
    windows.config = new Tconfig(values, main);
    main->setConfigDialog(windows.config);
    // The export choice dialog TFormExport is created here.
    windows.initConnection = new TInitConnection(main);
    main->setInitConnection(windows.initConnection);
    // Then, in this order: the graph window TgraphView (its ApplyLanguage
    // goes to main->setGraphApplyLanguage), the statistics window
    // TstatWindow, the line colour dialog TLineColor, the live value window
    // Tmesswerte and the batch progress window Tform_gauge.
    return windows;
}

}  // namespace tarvelo::gui
