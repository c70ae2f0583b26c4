// Writes arbitrary bytes as the settings file and reads it through
// SettingsFile as the program does at start. Texts read must be valid UTF-8
// and integers must fall back rather than wrap. Every few inputs a key is
// written as well: it must read back as written, the other keys of the
// section must keep their values, and the bytes of the file may change within
// one line only (a value replaced, or lines added).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <unistd.h>

#include "checks.h"
#include "app/settings.h"

namespace {

using tarvelo::fuzz::validUtf8;

using tarvelo::app::Settings;
using tarvelo::app::SettingsFile;

// One folder per process, on a memory file system when there is one, so that
// the atomic replacement of the file costs little.
// The folder and what is in it are removed when the process ends.
const std::string& settingsPath() {
    static const std::string folder = [] {
        std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        name += "/fuzz_settings.XXXXXX";
        if (!mkdtemp(name.data()))
            std::abort();
        return name;
    }();
    static const std::string path = [] {
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(folder, error);
        });
        return folder + "/473config.ini";
    }();
    return path;
}

constexpr const char* kKeys[] = {"IP-Server", "Port",      "Language",  "SampleRate",
                                 "Color 1",   "Channel 4", "AutoScaleY"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string& path = settingsPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out)
            std::abort();
    }
    SettingsFile file(path);

    std::string before[std::size(kKeys)];
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        before[i] = file.readString(kKeys[i], "\x01missing");
        require(validUtf8(before[i]));
    }
    // Every access opens and parses the file, so the number readers look at
    // one key per input.
    const std::size_t probe = size == 0 ? 0 : data[size / 2] % std::size(kKeys);
    (void)file.readInt(kKeys[probe], -7);
    (void)file.readBool(kKeys[probe], true);
    Settings settings;
    tarvelo::app::readStartupSettings(file, settings);
    require(validUtf8(settings.ipServer()));

    // Writing: only for a share of the inputs, it replaces the file.
    if (size == 0 || data[0] % 8 != 0)
        return 0;
    const std::size_t target = data[size - 1] % std::size(kKeys);
    const auto value = static_cast<int32_t>(size * 2654435761u);
    require(file.writeInt(kKeys[target], value));
    std::string after;
    {
        std::ifstream in(path, std::ios::binary);
        after.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string_view old(reinterpret_cast<const char*>(data), size);
    std::size_t prefix = 0;
    while (prefix < old.size() && prefix < after.size() && old[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < old.size() - prefix && suffix < after.size() - prefix &&
           old[old.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    require(old.substr(prefix, old.size() - prefix - suffix).find('\n') == std::string_view::npos);
    require(file.readInt(kKeys[target], value + 1) == value);
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
        if (i != target)
            require(file.readString(kKeys[i], "\x01missing") == before[i]);
    }
    return 0;
}
