#pragma once

#include <string_view>

namespace tarvelo::app {

// Texts the program shows beyond the UiText table: failure boxes, controls and
// tooltips it adds, the banner's subtitle. Each exists in German, English and
// French; any other language (Italian, whose row holds only five texts) reads
// the English one. Keep each group's entries together, in the enum and in the
// table of program_text.cpp, in the same order.
enum class ProgramText {
    // Main window and shell
    BannerSubtitle,

    // Settings and setup

    // Files, saving and export
    // Opening lines of the failure boxes; the system's own detail follows.
    SaveFailed,
    LoadFailed,
    WriteFailed,

    // Spreadsheet

    // Batch readout and recording

    // Graph, statistics and printout
    PrintFailed,
    ChartMouseHelp,

    // Graph image, copy and wheel zoom

    // Help

    Count  // not a text
};

// The text of `id` in `language` (0 German, 1 English, 2 French; any other
// value gives English). UTF-8.
std::string_view programText(ProgramText id, int language);

}  // namespace tarvelo::app
