#pragma once

#include <string>
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
    SettingsNotSaved,  // %1 the file, %2 the reason

    // Files, saving and export
    // Opening lines of the failure boxes; the system's own detail follows.
    SaveFailed,
    LoadFailed,
    WriteFailed,

    // Spreadsheet
    WorkbookSaveTitle,
    WorkbookNoApplication,  // %1 the workbook

    // Batch readout and recording
    BatchRecordsRead,  // "%1 of %2 records read"
    BatchTimeLeft,     // "about %1 left"
    BatchLostToFile,   // instrument gone during Batch to file: %1 of %2 read, %3 the file
    BatchCancelledToFile,  // Batch to file cancelled: %1 of %2 read, %3 the file
    BatchLostToList,   // instrument gone during Batch to list: %1 of %2 read
    FolderMissing,     // a save dialog's answer lies in a folder that does not exist: %1
    RecordTitle,       // the recording's save dialog
    RecordingStarted,  // status bar: %1 the file
    RecordingFailed,   // %1 the file, %2 the reason
    RecordingOn,       // the sign beside the main window's status text and in the graph window
    StreamInterrupted,         // status bar after the stream came back: %1 records missing
    StreamInterruptedUnknown,  // the same when the number is not known

    // Graph, statistics and printout
    PrintFailed,

    // Graph image, copy and wheel zoom
    GraphImageButton,
    GraphImageTitle,
    GraphImageFilter,
    GraphImageFailed,
    GraphChartTooltip,
    StatisticsCopyButton,

    // Recordings opened in a window of their own
    OpenRecordingMenu,     // the File menu's item, with its accelerator
    OpenRecordingTitle,    // the open dialog
    RecordingFilter,       // the open dialog's filters
    // Several files chosen that are not the consecutive parts of one split run
    RecordingRunNotAPart,     // %1 the file
    RecordingRunOtherRun,     // %1 the file, %2 a file of the run
    RecordingRunTwice,        // %1 and %2 the files
    RecordingRunMissing,      // %1 the missing part's file
    RecordingRunUnfinished,   // %1 the file
    RecordingOpenFailed,   // opening line of the failure box; the reason follows
    RecordingOpening,      // %1 the file
    RecordingCancel,
    RecordingWholeRun,
    RecordingUndoZoom,
    RecordingViewTooltip,
    RecordingCutLastLine,  // the file ended inside a line
    RecordingGaps,         // %1 the number of gaps, %2 the usual step in ms
    RecordingTakeIntoMemory,  // the button
    RecordingTakeTooLong,  // %1 samples in view, %2 the memory's size, %3 the zoom factor, %4 the span that fits
    RecordingMemoryBusy,   // the memory is being written by sampling or a batch readout
    RecordingExportStretch,  // the button
    RecordingExportTitle,    // its save dialog
    RecordingExportFilter,   // its save dialog's filters: .asc, .csv, .xlsx
    RecordingWorkbookTooLong,  // %1 the workbook's row limit, %2 samples in view
    RecordingExportWriting,  // the progress of Export stretch...: %1 the file

    // Help
    HelpCaption,      // caption of the box when the help cannot be shown
    HelpPageMissing,  // %1: the page's path
    HelpNoViewer,     // %1: the page's path

    Count  // not a text
};

// The text of `id` in `language` (0 German, 1 English, 2 French; any other
// value gives English). UTF-8.
std::string_view programText(ProgramText id, int language);

// The system's reason for a failed file operation (an errno value) in
// `language`, in the C library's own translation; English where that
// language's regional format is not installed. UTF-8.
std::string systemErrorText(int errorNumber, int language);

}  // namespace tarvelo::app
