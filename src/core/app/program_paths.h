#pragma once

#include <string>

namespace tarvelo::app {

// Where the program keeps its settings file and where its file dialogs start.
//
// Run from its build folder (or any folder of its own that the user may
// write), the program keeps everything beside the executable. Installed, the
// executable's folder is the system's and not the user's: the settings file
// then lives in the user's configuration folder (unless one was put beside
// the executable) and the file dialogs start in the user's documents folder. Help files in the old format are always looked
// up beside the executable; the operator's manual (HTML pages) lies in the
// folder "help" beside the executable, or installed in the share folder.
struct ProgramPaths {
    std::string programDirectory;     // the executable's folder: help files
    std::string settingsDirectory;    // the folder of "473config.ini"
    std::string fileDialogDirectory;  // start folder of the file dialogs
    std::string helpDirectory;        // the folder of the manual's pages
    bool installed = false;
};

// What the rule looks at. Folders are given without a trailing separator
// (one is removed if present); empty texts stand for "not known".
struct ProgramLocation {
    std::string executableDirectory;
    // The folder the installation puts the executable in (e.g. "/usr/bin").
    // An executable there counts as installed even when the folder can be
    // written, as it can by root.
    std::string installedBinDirectory;
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME; used only when absolute
    std::string home;           // $HOME
    std::string documents;      // the user's documents folder
    // The folder the installation puts the manual's pages in
    // (e.g. "/usr/share/tarvelo/help").
    std::string installedHelpDirectory;
};

// Installed when the executable's folder is the installation's folder or
// cannot be written by this process. Then the settings folder is the
// executable's when a settings file lies there, else $XDG_CONFIG_HOME/tarvelo,
// else $HOME/.config/tarvelo (beside the executable when neither is known), and the dialogs start in the documents
// folder when it exists, else in $HOME, and the manual is looked up in the
// installed help folder. Otherwise everything is beside the executable, the
// manual in its folder "help".
ProgramPaths resolveProgramPaths(const ProgramLocation& location);

// Creates the settings folder (and its parents) when it is missing, so that
// the first write of the settings file succeeds. False when it cannot.
bool ensureSettingsDirectory(const ProgramPaths& paths);

}  // namespace tarvelo::app
