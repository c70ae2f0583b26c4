#include "app/settings.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

// 8-bit texts only: SimpleIni needs none of its wide-character converters.
// Its template definitions are compiled here rather than taken from the
// shared library, so only this file uses it and nothing more is linked.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "common/atomic_file.h"
#include "common/encoding.h"

namespace tarvelo::app {

// ---- Settings ---------------------------------------------------------------

std::string Settings::ipServer() const {
    std::lock_guard lock(mutex_);
    return ipServer_;
}

void Settings::setIpServer(std::string address) {
    std::lock_guard lock(mutex_);
    ipServer_ = std::move(address);
}

// ---- Sample interval list ---------------------------------------------------

namespace {

struct SampleInterval {
    int32_t milliseconds;
    const char* label;
};
constexpr std::array<SampleInterval, kSampleRateCount> kSampleIntervals{{{1, "1 ms"},
                                                                         {2, "2 ms"},
                                                                         {5, "5 ms"},
                                                                         {10, "10 ms"},
                                                                         {20, "20 ms"},
                                                                         {50, "50 ms"},
                                                                         {100, "100 ms"},
                                                                         {200, "200 ms"},
                                                                         {500, "500 ms"},
                                                                         {1000, "1 s"},
                                                                         {2000, "2 s"},
                                                                         {5000, "5 s"},
                                                                         {10000, "10 s"}}};

bool validSampleRate(int32_t index) {
    return index >= 0 && index < kSampleRateCount;
}

}  // namespace

int32_t recordsPerSample(int32_t sampleRateIndex) {
    // One record arrives per millisecond, so the interval is the record count.
    if (!validSampleRate(sampleRateIndex))
        sampleRateIndex = kDefaultSampleRate;
    return kSampleIntervals[static_cast<std::size_t>(sampleRateIndex)].milliseconds;
}

const char* sampleRateLabel(int32_t sampleRateIndex) {
    if (!validSampleRate(sampleRateIndex))
        return "";
    return kSampleIntervals[static_cast<std::size_t>(sampleRateIndex)].label;
}

// ---- Settings file ----------------------------------------------------------

namespace {

enum class LoadResult { Loaded, Missing, Failed };

// Reads the whole file into `ini`. The file's bytes are Windows-1252 and are
// kept as they are (SimpleIni in its 8-bit mode).
LoadResult loadIni(const std::string& path, CSimpleIniA& ini) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return LoadResult::Failed;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ini.LoadData(data) < 0 ? LoadResult::Failed : LoadResult::Loaded;
}

// 8-bit mode, one value per key, single-line values, written as "key=value"
// like private-profile files.
class IniFile : public CSimpleIniA {
public:
    IniFile() : CSimpleIniA(false, false, false) { SetSpaces(false); }
};

// The raw (Windows-1252) value of `key`, or nothing when file or key is missing.
std::optional<std::string> readRaw(const std::string& path, const std::string& key) {
    IniFile ini;
    if (loadIni(path, ini) != LoadResult::Loaded)
        return std::nullopt;
    const std::string fileKey = common::utf8ToCp1252(key);
    const char* value = ini.GetValue(kSettingsSection, fileKey.c_str(), nullptr);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

// A decimal integer with an optional sign and blanks around it that fits in
// 32 bits; anything else is not an integer.
std::optional<int32_t> parseInt(std::string_view text) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    int64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

// A value must stay on its own line: line breaks would make the rest of the
// text a line of its own in the file.
std::string singleLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::readString(const std::string& key, const std::string& fallback) const {
    const auto raw = readRaw(path_, key);
    return raw ? common::cp1252ToUtf8(*raw) : fallback;
}

int32_t SettingsFile::readInt(const std::string& key, int32_t fallback) const {
    const auto raw = readRaw(path_, key);
    if (!raw)
        return fallback;
    return parseInt(*raw).value_or(fallback);
}

bool SettingsFile::readBool(const std::string& key, bool fallback) const {
    const auto raw = readRaw(path_, key);
    if (!raw)
        return fallback;
    const auto value = parseInt(*raw);
    return value ? *value != 0 : fallback;
}

bool SettingsFile::writeString(const std::string& key, const std::string& value) {
    return writeStrings({{key, value}});
}

bool SettingsFile::writeInt(const std::string& key, int32_t value) {
    return writeStrings({{key, std::to_string(value)}});
}

bool SettingsFile::writeBool(const std::string& key, bool value) {
    return writeStrings({{key, value ? "1" : "0"}});
}

bool SettingsFile::writeStrings(const std::vector<std::pair<std::string, std::string>>& values) {
    IniFile ini;
    // An unreadable file is not overwritten: its other keys would be lost.
    if (loadIni(path_, ini) == LoadResult::Failed)
        return false;
    for (const auto& [key, value] : values) {
        const std::string fileKey = singleLine(common::utf8ToCp1252(key));
        const std::string fileValue = singleLine(common::utf8ToCp1252(value));
        if (ini.SetValue(kSettingsSection, fileKey.c_str(), fileValue.c_str()) < 0)
            return false;
    }
    std::string data;
    if (ini.Save(data) < 0)
        return false;
    return common::writeFileAtomically(path_, data);
}

void readStartupSettings(const SettingsFile& file, Settings& settings) {
    settings.setIpServer(file.readString("IP-Server", kDefaultIpServer));
    settings.port = file.readInt("Port", kDefaultPort);
    settings.language = file.readInt("Language", kDefaultLanguage);
    settings.sampleRate = file.readInt("SampleRate", kDefaultSampleRate);
}

bool writeSetupSettings(SettingsFile& file, const Settings& settings) {
    return file.writeStrings({{"IP-Server", settings.ipServer()},
                              {"Port", std::to_string(settings.port.load())},
                              {"Language", std::to_string(settings.language.load())},
                              {"SampleRate", std::to_string(settings.sampleRate.load())}});
}

}  // namespace tarvelo::app
