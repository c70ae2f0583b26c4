#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/settings.h"
#include "support.h"

namespace {

using tarvelo::app::readStartupSettings;
using tarvelo::app::Settings;
using tarvelo::app::SettingsFile;
using tarvelo::app::writeSetupSettings;
using tarvelo::test::readFile;
using tarvelo::test::TempDir;
using tarvelo::test::writeFile;

// The sample intervals are checked with the other tables in test_texts.
TEST(SettingsValues, Defaults) {
    Settings settings;
    EXPECT_EQ(settings.ipServer(), "192.168.100.2");
    EXPECT_EQ(settings.port, 4000);
    EXPECT_EQ(settings.language, 1);
    EXPECT_EQ(settings.sampleRate, 6);
}

TEST(SettingsFileRead, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    const std::string path = dir.file("473config.ini");
    SettingsFile file(path);
    Settings settings;
    settings.port = 1;
    readStartupSettings(file, settings);
    EXPECT_EQ(settings.ipServer(), "192.168.100.2");
    EXPECT_EQ(settings.port, 4000);
    EXPECT_EQ(settings.language, 1);
    EXPECT_EQ(settings.sampleRate, 6);
    EXPECT_TRUE(file.readBool("Channel 1", true));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SettingsFileRead, OnlyLanguageGiven) {
    TempDir dir;
    writeFile(dir.file("a.ini"), "[Config]\r\nLanguage=0\r\n");
    Settings settings;
    readStartupSettings(SettingsFile(dir.file("a.ini")), settings);
    EXPECT_EQ(settings.language, 0);
    EXPECT_EQ(settings.ipServer(), "192.168.100.2");
    EXPECT_EQ(settings.port, 4000);
    EXPECT_EQ(settings.sampleRate, 6);
}

TEST(SettingsFileRead, IntegersAndBooleans) {
    TempDir dir;
    writeFile(dir.file("a.ini"),
              "[Other]\nPort=1\n"
              "[Config]\n"
              "Port=  -12 \nLanguage=2x\nSampleRate=\nColor 1=1.5\nColor 2=+7\n"
              "Color 3=2147483648\nColor 4=-2147483648\n"
              "Channel 1=0\nChannel 2=7\nChannel 3=yes\nChannel 4=-1\n");
    SettingsFile file(dir.file("a.ini"));
    EXPECT_EQ(file.readInt("Port", 4000), -12);
    EXPECT_EQ(file.readInt("Language", 1), 1);
    EXPECT_EQ(file.readInt("SampleRate", 6), 6);
    EXPECT_EQ(file.readInt("Color 1", 9), 9);
    EXPECT_EQ(file.readInt("Color 2", 10), 7);
    EXPECT_EQ(file.readInt("Color 3", 11), 11);  // beyond 32 bits
    EXPECT_EQ(file.readInt("Color 4", 12), INT32_MIN);
    EXPECT_EQ(file.readInt("color 4", 12), INT32_MIN);  // keys ignore case, as private profiles do
    EXPECT_FALSE(file.readBool("Channel 1", true));
    EXPECT_TRUE(file.readBool("Channel 2", false));
    EXPECT_FALSE(file.readBool("Channel 3", false));
    EXPECT_TRUE(file.readBool("Channel 3", true));
    EXPECT_TRUE(file.readBool("Channel 4", false));
    EXPECT_EQ(file.readString("Missing", "fallback"), "fallback");
}

TEST(SettingsFileWrite, CreatesFileAndSectionWithSpacedKeys) {
    TempDir dir;
    SettingsFile file(dir.file("473config.ini"));
    ASSERT_TRUE(file.writeInt("Color 1", 3));
    ASSERT_TRUE(file.writeBool("Channel 2", false));
    ASSERT_TRUE(file.writeBool("Channel 3", true));
    // A new file gets CR LF line ends.
    EXPECT_EQ(readFile(file.path()), "[Config]\r\nColor 1=3\r\nChannel 2=0\r\nChannel 3=1\r\n");
    EXPECT_EQ(file.readInt("Color 1", 9), 3);
    EXPECT_FALSE(file.readBool("Channel 2", true));
    EXPECT_TRUE(file.readBool("Channel 3", false));
}

TEST(SettingsFileWrite, SetupKeysInOrderKeepingEverythingElse) {
    TempDir dir;
    const std::string path = dir.file("473config.ini");
    writeFile(path,
              "; written by hand\n"
              "[Config]\n"
              "Color 1=4\n"
              "Port=4100\n"
              "[Extra]\n"
              "Key=Value\n");
    SettingsFile file(path);
    Settings settings;
    readStartupSettings(file, settings);
    EXPECT_EQ(settings.port, 4100);
    settings.setIpServer("127.0.0.1");
    settings.language = 2;
    ASSERT_TRUE(writeSetupSettings(file, settings));

    // Other keys, sections and comments stay; new keys follow in the given order.
    const std::string text = readFile(path);
    const auto at = [&](const char* part) { return text.find(part); };
    ASSERT_NE(at("; written by hand\n"), std::string::npos) << text;
    EXPECT_LT(at("; written by hand"), at("[Config]\n"));
    EXPECT_LT(at("[Config]\n"), at("Color 1=4\n"));
    EXPECT_LT(at("Color 1=4\n"), at("Port=4100\n"));
    EXPECT_LT(at("Port=4100\n"), at("IP-Server=127.0.0.1\n"));
    EXPECT_LT(at("IP-Server=127.0.0.1\n"), at("Language=2\n"));
    EXPECT_LT(at("Language=2\n"), at("SampleRate=6\n"));
    EXPECT_LT(at("SampleRate=6\n"), at("[Extra]\nKey=Value\n"));
    EXPECT_NE(at("[Extra]\nKey=Value\n"), std::string::npos);
    EXPECT_EQ(SettingsFile(path).readString("IP-Server", ""), "127.0.0.1");

    // Writing again changes only the value.
    settings.sampleRate = 12;
    ASSERT_TRUE(writeSetupSettings(file, settings));
    std::string again = readFile(path);
    const auto pos = again.find("SampleRate=12\n");
    ASSERT_NE(pos, std::string::npos);
    again.replace(pos, 14, "SampleRate=6\n");
    EXPECT_EQ(again, text);

    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(SettingsFileWrite, WindowsCodePageInTheFile) {
    TempDir dir;
    const std::string path = dir.file("a.ini");
    SettingsFile file(path);
    ASSERT_TRUE(file.writeString("IP-Server", "\xC2\xB5 and \xE2\x82\xAC"));
    EXPECT_EQ(readFile(path), "[Config]\r\nIP-Server=\xB5 and \x80\r\n");
    EXPECT_EQ(file.readString("IP-Server", ""), "\xC2\xB5 and \xE2\x82\xAC");

    // A line break in a value cannot start a key of its own.
    ASSERT_TRUE(file.writeString("IP-Server", "127.0.0.9\nPort=1"));
    EXPECT_EQ(file.readInt("Port", 4000), 4000);
}

TEST(SettingsFileWrite, ChangesOnlyTheKeysLine) {
    TempDir dir;
    const std::string path = dir.file("473config.ini");
    const std::string original =
        "; written by hand\r\n"
        "[Other]\r\nPort=1\r\n\r\n"
        "[CONFIG]\r\n"
        "Color 1 = 4\r\n"
        "  Port = 4100  \r\n"
        "port=9\r\n"
        "IP-Server = \"127.0.0.1\" \r\n"
        "not a key\r\n\r\n"
        "[Config]\r\nLanguage=2\r\n"
        "[Extra]\r\nKey=Value";
    writeFile(path, original);
    SettingsFile file(path);

    // The first [Config] section, whatever its case, and the first line of a key.
    Settings settings;
    readStartupSettings(file, settings);
    EXPECT_EQ(settings.port, 4100);
    EXPECT_EQ(settings.language, 1);
    EXPECT_EQ(settings.ipServer(), "127.0.0.1");
    EXPECT_EQ(file.readInt("Color 1", 9), 4);

    // A key that is there changes on its own line, spacing before the value kept.
    ASSERT_TRUE(file.writeInt("Port", 4200));
    std::string expected = original;
    expected.replace(expected.find("4100  "), 6, "4200");
    EXPECT_EQ(readFile(path), expected);

    // A new key follows the section's last key, with the file's line end.
    ASSERT_TRUE(writeSetupSettings(file, settings));
    expected.insert(expected.find("not a key"), "Language=1\r\nSampleRate=6\r\n");
    expected.replace(expected.find("4200"), 4, "4100");
    expected.replace(expected.find("\"127.0.0.1\" "), 12, "127.0.0.1");
    EXPECT_EQ(readFile(path), expected);

    // A file without the section gets it at its end; a file of LF lines keeps LF.
    writeFile(path, "[Other]\nA=1");
    ASSERT_TRUE(file.writeBool("Channel 1", false));
    EXPECT_EQ(readFile(path), "[Other]\nA=1\n[Config]\nChannel 1=0\n");
}

// Runs `write` as an unprivileged user when the tests run as root, since root
// writes into read-only folders; returns its result.
bool writeUnprivileged(const std::function<bool()>& write) {
    if (geteuid() != 0)
        return write();
    const pid_t child = fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0) {
            _exit(2);
        }
        _exit(write() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// The file's own permission decides, not its folder's: a read-only file stays
// as it is (also for root, who may write anything); a writable file in a
// folder that cannot be written is rewritten in place; a link is written
// through to its target. The reason names the settings file.
TEST(SettingsFileWrite, TheFileItselfDecides) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    const std::string old = "[Config]\r\nPort=4100\r\n";

    const std::string readOnly = dir.file("ro.ini");
    writeFile(readOnly, old);
    chmod(readOnly.c_str(), 0444);
    std::string error;
    SettingsFile roFile(readOnly);
    EXPECT_FALSE(roFile.writeInt("Port", 1));
    const bool written = writeSetupSettings(roFile, Settings{}, &error);
    const int reason = errno;
    EXPECT_FALSE(written);
    EXPECT_EQ(reason, EACCES);
    EXPECT_EQ(readFile(readOnly), old);
    EXPECT_NE(error.find(readOnly), std::string::npos) << error;

    const std::string station = dir.file("station");
    std::filesystem::create_directory(station);
    const std::string inPlace = station + "/473config.ini";
    writeFile(inPlace, old);
    chmod(inPlace.c_str(), 0666);
    chmod(station.c_str(), 0555);
    SettingsFile stationFile(inPlace);
    EXPECT_TRUE(writeUnprivileged([&] { return stationFile.writeInt("Port", 4200); }));
    EXPECT_EQ(readFile(inPlace), "[Config]\r\nPort=4200\r\n");
    chmod(station.c_str(), 0755);

    const std::string target = dir.file("real/473config.ini");
    std::filesystem::create_directory(dir.file("real"));
    writeFile(target, old);
    std::filesystem::create_symlink("real/473config.ini", dir.file("link.ini"));
    ASSERT_TRUE(SettingsFile(dir.file("link.ini")).writeInt("Port", 4300));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(readFile(target), "[Config]\r\nPort=4300\r\n");
}

// A file that starts with the UTF-8 byte-order mark is read, stays UTF-8 and
// keeps its mark; values lose one pair of double or single quotes.
TEST(SettingsFileRead, Utf8MarkAndQuotes) {
    TempDir dir;
    const std::string path = dir.file("a.ini");
    writeFile(path, "\xEF\xBB\xBF[Config]\r\nLanguage=0\r\nIP-Server='127.0.0.1'\r\n"
                    "Port=\"4100\"\r\nColor 1='3\"\r\n");
    SettingsFile file(path);
    Settings settings;
    readStartupSettings(file, settings);
    EXPECT_EQ(settings.language, 0);
    EXPECT_EQ(settings.ipServer(), "127.0.0.1");
    EXPECT_EQ(settings.port, 4100);
    EXPECT_EQ(file.readString("Color 1", ""), "'3\"");  // quotes that do not pair stay

    ASSERT_TRUE(file.writeString("IP-Server", "Z\u00FCrich"));
    ASSERT_TRUE(file.writeInt("SampleRate", 2));
    EXPECT_EQ(readFile(path), "\xEF\xBB\xBF[Config]\r\nLanguage=0\r\nIP-Server=Z\u00FCrich\r\n"
                              "Port=\"4100\"\r\nColor 1='3\"\r\nSampleRate=2\r\n");
    EXPECT_EQ(file.readString("IP-Server", ""), "Z\u00FCrich");
}

TEST(SettingsFileWrite, FailureLeavesOldFileIntact) {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    SettingsFile nowhere(dir.file("nowhere/473config.ini"));
    EXPECT_FALSE(nowhere.writeInt("Port", 1));

    const std::string folder = dir.file("ro");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/473config.ini";
    const std::string old = "[Config]\nPort=4100\n";
    writeFile(path, old);
    chmod(path.c_str(), 0644);
    chmod(folder.c_str(), 0555);
    SettingsFile file(path);
    EXPECT_FALSE(writeUnprivileged([&] { return file.writeInt("Port", 1); }));
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(file.readInt("Port", 4000), 4100);
    chmod(folder.c_str(), 0755);

    // A folder in place of the file cannot be read, so nothing is written.
    const std::string asFolder = dir.file("folder.ini");
    std::filesystem::create_directory(asFolder);
    SettingsFile folderFile(asFolder);
    EXPECT_FALSE(folderFile.writeInt("Port", 1));
    EXPECT_TRUE(std::filesystem::is_directory(asFolder));
    EXPECT_EQ(folderFile.readInt("Port", 4000), 4000);
}

}  // namespace
