#include "app/program_paths.h"

#include "app/settings.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace tarvelo::app {

namespace {

constexpr const char* kSettingsSubfolder = "tarvelo";

std::string withoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool sameFolder(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error))
        return true;
    return withoutTrailingSeparator(a) == withoutTrailingSeparator(b);
}

bool writableFolder(const std::string& folder) {
    return !folder.empty() && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

ProgramPaths resolveProgramPaths(const ProgramLocation& location) {
    ProgramPaths paths;
    paths.programDirectory = withoutTrailingSeparator(location.executableDirectory);
    paths.installed = sameFolder(paths.programDirectory, location.installedBinDirectory) ||
                      !writableFolder(paths.programDirectory);
    const std::string installedHelp = withoutTrailingSeparator(location.installedHelpDirectory);
    paths.helpDirectory = paths.installed && !installedHelp.empty()
                              ? installedHelp
                              : paths.programDirectory + "/help";
    if (!paths.installed) {
        paths.settingsDirectory = paths.programDirectory;
        paths.fileDialogDirectory = paths.programDirectory;
        return paths;
    }

    // A settings file beside the executable (a provisioned station's) is the
    // program's whenever it is there, writable or not; without one, the
    // user's configuration folder holds it. A relative $XDG_CONFIG_HOME is
    // invalid and ignored.
    const std::string home = withoutTrailingSeparator(location.home);
    const std::string xdg = withoutTrailingSeparator(location.xdgConfigHome);
    std::error_code unreadable;
    if (std::filesystem::is_regular_file(paths.programDirectory + "/" + kSettingsFileName,
                                         unreadable))
        paths.settingsDirectory = paths.programDirectory;
    else if (!xdg.empty() && xdg.front() == '/')
        paths.settingsDirectory = xdg + "/" + kSettingsSubfolder;
    else if (!home.empty())
        paths.settingsDirectory = home + "/.config/" + kSettingsSubfolder;
    else
        paths.settingsDirectory = paths.programDirectory;

    // A documents folder that does not exist (yet) is no place to start in.
    const std::string documents = withoutTrailingSeparator(location.documents);
    std::error_code error;
    const bool haveDocuments =
        !documents.empty() && std::filesystem::is_directory(documents, error);
    paths.fileDialogDirectory = haveDocuments   ? documents
                                : !home.empty() ? home
                                                : paths.programDirectory;
    return paths;
}

bool ensureSettingsDirectory(const ProgramPaths& paths) {
    if (paths.settingsDirectory.empty())
        return false;
    std::error_code error;
    std::filesystem::create_directories(paths.settingsDirectory, error);
    return std::filesystem::is_directory(paths.settingsDirectory, error);
}

}  // namespace tarvelo::app
