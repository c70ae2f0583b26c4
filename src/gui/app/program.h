#pragma once

#include <memory>

#include "app/mabout.h"
#include "app/minitconn.h"
#include "app/mmain.h"
#include "app/msetup.h"

namespace tarvelo::gui {
class TgraphView;
class TstatWindow;
class TLineColor;
class Tmesswerte;
class TFormExport;
class Tform_gauge;
}  // namespace tarvelo::gui

namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

class Dialogs;

// Every window of the program, created once at start and living until the
// end. The main window owns the others (they are its children).
struct ProgramWindows {
    std::unique_ptr<ThauptFenster> hauptFenster;
    Tabout* about = nullptr;
    Tconfig* config = nullptr;
    TFormExport* exportForm = nullptr;
    TInitConnection* initConnection = nullptr;
    TgraphView* graph = nullptr;
    TstatWindow* stat = nullptr;
    TLineColor* lineColor = nullptr;
    Tmesswerte* live = nullptr;
    Tform_gauge* gauge = nullptr;
};

// The program's one font, the platform's face at 8 points, set for the
// whole application so that every window (top-level ones too, which do not
// inherit their parent's font) lays out its texts with the same metrics.
constexpr int kProgramFontPoints = 8;
void useProgramFont();

// Creates the windows in the program's order: the main window first (so it
// is the application's main window), then the about box, the setup dialog,
// the "Connection" window and, as they come, the others. None is shown.
ProgramWindows createProgramWindows(app::ProcessValues& values, Dialogs& dialogs);

}  // namespace tarvelo::gui
