#include "app/settings.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>

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

// Reads the file's bytes (Windows-1252) as they are.
LoadResult loadFile(const std::string& path, std::string& data) {
    data.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int readError = errno;
            ::close(fd);
            errno = readError;
            return LoadResult::Failed;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return LoadResult::Loaded;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// One line of the file: its text runs from `begin` to `end`, its line end
// (LF or CR LF, none on an unterminated last line) from `end` to `next`.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t lf = text.find('\n', begin);
        if (lf == std::string_view::npos) {
            lines.push_back({begin, text.size(), text.size()});
            break;
        }
        const std::size_t end = lf > begin && text[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back({begin, end, lf + 1});
        begin = lf + 1;
    }
    return lines;
}

// The line end the file uses (that of its first line); CR LF for a file
// without one, as the format's home platform writes it.
std::string_view lineEndOf(std::string_view text) {
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos || (lf > 0 && text[lf - 1] == '\r'))
        return "\r\n";
    return "\n";
}

// A section header "[name]"; gives the name with its blanks trimmed.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trimBlanks(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    line.remove_prefix(1);
    return trimBlanks(line.substr(0, line.find(']')));
}

// A "key=value" line (not a ";" comment); gives the trimmed key and the
// offset in `line` where the value's text starts (after the blanks that
// follow "=").
std::optional<std::pair<std::string_view, std::size_t>> keyOf(std::string_view line) {
    const std::string_view trimmed = trimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[')
        return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    const std::string_view key = trimBlanks(line.substr(0, equals));
    if (key.empty())
        return std::nullopt;
    std::size_t value = equals + 1;
    while (value < line.size() && isBlank(line[value]))
        ++value;
    return std::make_pair(key, value);
}

// Where `key` of the first [Config] section stands in a file's text.
struct KeyPlace {
    std::vector<Line> lines;
    std::optional<std::size_t> section;  // the header's line
    std::optional<std::size_t> keyLine;  // the key's first occurrence
    std::size_t valueOffset = 0;         // in keyLine's text
    std::size_t lastKeyLine = 0;         // the section's last key (or its header)
};

KeyPlace findKey(std::string_view text, std::string_view key) {
    KeyPlace place;
    place.lines = splitLines(text);
    for (std::size_t i = 0; i < place.lines.size(); ++i) {
        const Line& line = place.lines[i];
        const std::string_view content = text.substr(line.begin, line.end - line.begin);
        if (const auto name = sectionName(content)) {
            if (place.section)
                break;  // the first [Config] section ends here
            if (equalsIgnoringCase(*name, kSettingsSection)) {
                place.section = i;
                place.lastKeyLine = i;
            }
            continue;
        }
        if (!place.section)
            continue;
        const auto entry = keyOf(content);
        if (!entry)
            continue;
        place.lastKeyLine = i;
        if (!place.keyLine && equalsIgnoringCase(entry->first, key)) {
            place.keyLine = i;
            place.valueOffset = entry->second;
        }
    }
    return place;
}

// The private-profile reading of a value: blanks around it trimmed, one pair
// of enclosing double or single quotes removed.
std::string_view profileValue(std::string_view value) {
    value = trimBlanks(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// A file that starts with the UTF-8 byte-order mark holds UTF-8 text; the
// mark is no part of its first line.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool takeUtf8Mark(std::string& text) {
    if (text.compare(0, kUtf8Mark.size(), kUtf8Mark) != 0)
        return false;
    text.erase(0, kUtf8Mark.size());
    return true;
}

// Sets `key` to `value` in a file's text (both Windows-1252) and changes
// nothing else: the key's line gets the new value, or the key is added after
// the last key of the first [Config] section, or that section is added at the
// end of the file.
void setKey(std::string& text, std::string_view key, std::string_view value) {
    const KeyPlace place = findKey(text, key);
    const std::string_view lineEnd = lineEndOf(text);
    if (place.keyLine) {
        const Line& line = place.lines[*place.keyLine];
        const std::size_t from = line.begin + place.valueOffset;
        text.replace(from, line.end - from, value);
        return;
    }
    std::string added;
    std::size_t at = text.size();
    if (place.section) {
        const Line& after = place.lines[place.lastKeyLine];
        at = after.next;
        if (after.next == after.end)  // the file's last line, without a line end
            added += lineEnd;
    } else {
        if (!text.empty() && text.back() != '\n')
            added += lineEnd;
        added.append("[").append(kSettingsSection).append("]").append(lineEnd);
    }
    added.append(key).append("=").append(value).append(lineEnd);
    text.insert(at, added);
}

// The value of `key` as UTF-8, or nothing when file or key is missing.
std::optional<std::string> readValue(const std::string& path, const std::string& key) {
    std::string text;
    if (loadFile(path, text) != LoadResult::Loaded)
        return std::nullopt;
    const bool utf8 = takeUtf8Mark(text);
    const KeyPlace place = findKey(text, utf8 ? key : common::utf8ToCp1252(key));
    if (!place.keyLine)
        return std::nullopt;
    const Line& line = place.lines[*place.keyLine];
    const std::string value(profileValue(std::string_view(text).substr(
        line.begin + place.valueOffset, line.end - line.begin - place.valueOffset)));
    return utf8 ? common::repairUtf8(value) : common::cp1252ToUtf8(value);
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
    const auto value = readValue(path_, key);
    return value ? *value : fallback;
}

int32_t SettingsFile::readInt(const std::string& key, int32_t fallback) const {
    const auto raw = readValue(path_, key);
    if (!raw)
        return fallback;
    return parseInt(*raw).value_or(fallback);
}

bool SettingsFile::readBool(const std::string& key, bool fallback) const {
    const auto raw = readValue(path_, key);
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

bool SettingsFile::writeStrings(const std::vector<std::pair<std::string, std::string>>& values,
                                std::string* error) {
    std::string text;
    // An unreadable file is not overwritten: its other keys would be lost.
    if (loadFile(path_, text) == LoadResult::Failed) {
        const int readError = errno;
        if (error)
            *error = "Cannot read " + path_ + ": " + std::strerror(readError);
        errno = readError;
        return false;
    }
    // A file marked as UTF-8 stays so, mark included; others are Windows-1252.
    const bool utf8 = takeUtf8Mark(text);
    const auto encode = [utf8](const std::string& s) {
        return singleLine(utf8 ? s : common::utf8ToCp1252(s));
    };
    for (const auto& [key, value] : values)
        setKey(text, encode(key), encode(value));
    if (utf8)
        text.insert(0, kUtf8Mark);
    // A station whose folder is locked but whose settings file is left
    // writable gets the file rewritten in place.
    return common::writeFileAtomically(path_, text, error,
                                       common::Replace::AtomicallyOrInPlace);
}

void readStartupSettings(const SettingsFile& file, Settings& settings) {
    settings.setIpServer(file.readString("IP-Server", kDefaultIpServer));
    settings.port = file.readInt("Port", kDefaultPort);
    settings.language = file.readInt("Language", kDefaultLanguage);
    settings.sampleRate = file.readInt("SampleRate", kDefaultSampleRate);
}

bool writeSetupSettings(SettingsFile& file, const Settings& settings, std::string* error) {
    return file.writeStrings({{"IP-Server", settings.ipServer()},
                              {"Port", std::to_string(settings.port.load())},
                              {"Language", std::to_string(settings.language.load())},
                              {"SampleRate", std::to_string(settings.sampleRate.load())}},
                             error);
}

}  // namespace tarvelo::app
