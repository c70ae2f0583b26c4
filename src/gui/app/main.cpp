#include <cstdlib>
#include <string>

#include <QApplication>
#include <QStandardPaths>

#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/program.h"
#include "app/program_paths.h"
#include "common/atomic_file.h"

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char* argv[]) {
    // A file-size limit makes writes fail (a box, the recording ended with its
    // whole lines) instead of ending the program.
    tarvelo::common::ignoreFileSizeSignal();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvelo II"));
    QApplication::setApplicationVersion(QStringLiteral(TARVELO_VERSION));

    tarvelo::app::ProcessValues values;
    // Beside the executable in the build tree; installed, the settings go to
    // the user's configuration folder and the dialogs start in Documents.
    const tarvelo::app::ProgramPaths paths = tarvelo::app::resolveProgramPaths(
        {QCoreApplication::applicationDirPath().toStdString(), TARVELO_INSTALL_BINDIR,
         environment("XDG_CONFIG_HOME"), environment("HOME"),
         QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString(),
         TARVELO_INSTALL_HELPDIR});
    if (paths.installed && paths.settingsDirectory != paths.programDirectory)
        tarvelo::app::ensureSettingsDirectory(paths);
    values.programDirectory = paths.programDirectory;
    values.settingsDirectory = paths.settingsDirectory;
    values.fileDialogDirectory = paths.fileDialogDirectory;
    values.helpDirectory = paths.helpDirectory;

    tarvelo::gui::StandardDialogs dialogs;
    tarvelo::gui::ProgramWindows windows = tarvelo::gui::createProgramWindows(values, dialogs);
    windows.hauptFenster->show();
    // `tarvelo FILE...`: a recording named on the command line opens in its
    // window, several files as the parts of one split run (Qt's own options
    // are gone from argv by now).
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files.append(QString::fromLocal8Bit(argv[i]));
    if (!files.isEmpty())
        windows.hauptFenster->openRecording(files);
    const int result = application.exec();
    windows.hauptFenster.reset();
    return result;
}
