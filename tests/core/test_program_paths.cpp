#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/process_values.h"
#include "app/program_paths.h"
#include "app/settings.h"
#include "support.h"

namespace {

using tarvelo::app::ProcessValues;
using tarvelo::app::ProgramLocation;
using tarvelo::app::ProgramPaths;
using tarvelo::app::resolveProgramPaths;
using tarvelo::test::TempDir;
namespace fs = std::filesystem;

// A folder of its own that can be written: the build tree. Everything stays
// beside the executable, whatever the environment says.
TEST(ProgramPaths, WritableFolderKeepsEverythingBesideTheExecutable) {
    TempDir dir;
    const ProgramPaths paths =
        resolveProgramPaths({dir.path() + "/", "/usr/bin", dir.path() + "/xdg", dir.path(),
                             dir.path() + "/Documents", "/usr/share/tarvelo/help"});
    EXPECT_FALSE(paths.installed);
    EXPECT_EQ(paths.programDirectory, dir.path());
    EXPECT_EQ(paths.settingsDirectory, dir.path());
    EXPECT_EQ(paths.fileDialogDirectory, dir.path());
    EXPECT_EQ(paths.helpDirectory, dir.file("help"));

    ProcessValues values;
    values.programDirectory = paths.programDirectory;
    EXPECT_EQ(values.settingsFilePath(), dir.file("473config.ini"));
    EXPECT_EQ(values.helpFolder(), dir.file("help"));
    EXPECT_EQ(values.fileDialogFolder(), dir.path());
}

// Installed (the executable sits in the installation's folder, which root can
// write): settings in the configuration folder, created on demand and really
// used by the settings file; dialogs in the documents folder; help files
// still beside the executable.
TEST(ProgramPaths, InstalledUsesTheUsersFolders) {
    TempDir dir;
    const std::string bin = dir.file("usr/bin");
    fs::create_directories(bin);
    fs::create_directory_symlink(bin, dir.file("bin-link"));
    const std::string home = dir.file("home");
    fs::create_directories(home + "/Docs");

    ProgramLocation location{bin, dir.file("bin-link"), dir.file("xdg"), home, home + "/Docs/"};
    location.installedHelpDirectory = dir.file("usr/share/tarvelo/help/");
    ProgramPaths paths = resolveProgramPaths(location);
    EXPECT_TRUE(paths.installed);
    EXPECT_EQ(paths.programDirectory, bin);
    EXPECT_EQ(paths.helpDirectory, dir.file("usr/share/tarvelo/help"));
    EXPECT_EQ(paths.settingsDirectory, dir.file("xdg/tarvelo"));
    EXPECT_EQ(paths.fileDialogDirectory, home + "/Docs");

    ASSERT_TRUE(tarvelo::app::ensureSettingsDirectory(paths));
    ProcessValues values;
    values.programDirectory = paths.programDirectory;
    values.settingsDirectory = paths.settingsDirectory;
    values.fileDialogDirectory = paths.fileDialogDirectory;
    tarvelo::app::SettingsFile file(values.settingsFilePath());
    ASSERT_TRUE(file.writeString("IP-Server", "127.0.0.1"));
    EXPECT_TRUE(fs::is_regular_file(dir.file("xdg/tarvelo/473config.ini")));
    EXPECT_FALSE(fs::exists(bin + "/473config.ini"));
    EXPECT_EQ(values.fileDialogFolder(), home + "/Docs");

    // A relative $XDG_CONFIG_HOME is ignored; without a documents folder the
    // dialogs start at home, as they do when it is missing; with no home
    // either, beside the executable.
    location.xdgConfigHome = "relative/xdg";
    location.documents = home + "/Missing";
    paths = resolveProgramPaths(location);
    EXPECT_EQ(paths.settingsDirectory, home + "/.config/tarvelo");
    EXPECT_EQ(paths.fileDialogDirectory, home);
    location.xdgConfigHome.clear();
    location.home.clear();
    paths = resolveProgramPaths(location);
    EXPECT_EQ(paths.settingsDirectory, bin);
    EXPECT_EQ(paths.fileDialogDirectory, bin);
}

// A folder the process cannot write counts as installed. Root may write any
// folder, so as root the check runs in a child that has become "nobody". A
// settings file put beside the executable (a provisioned station) is read
// and written there; without one the user's folder holds it.
TEST(ProgramPaths, FolderThatCannotBeWrittenCountsAsInstalled) {
    TempDir dir;
    const std::string bin = dir.file("bin");
    fs::create_directory(bin);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(bin.c_str(), 0555);
    const ProgramLocation location{bin, "", "", dir.file("home"), ""};

    for (const bool provisioned : {false, true}) {
        SCOPED_TRACE(provisioned);
        if (provisioned) {
            tarvelo::test::writeFile(bin + "/473config.ini", "[Config]\r\nPort=4100\r\n");
            ::chmod((bin + "/473config.ini").c_str(), 0666);
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            const ProgramPaths paths = resolveProgramPaths(location);
            ProcessValues values;
            values.programDirectory = paths.programDirectory;
            values.settingsDirectory = paths.settingsDirectory;
            tarvelo::app::SettingsFile file(values.settingsFilePath());
            const bool ok =
                paths.installed && paths.fileDialogDirectory == dir.file("home") &&
                paths.programDirectory == bin &&
                (provisioned ? paths.settingsDirectory == bin && file.readInt("Port", 0) == 4100 &&
                                   file.writeInt("Port", 4200)
                             : paths.settingsDirectory == dir.file("home/.config/tarvelo"));
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ::chmod(bin.c_str(), 0755);
    EXPECT_EQ(tarvelo::test::readFile(bin + "/473config.ini"), "[Config]\r\nPort=4200\r\n");
}

}  // namespace
