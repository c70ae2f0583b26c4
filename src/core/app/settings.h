#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tarvelo::app {

inline constexpr const char* kDefaultIpServer = "192.168.100.2";
inline constexpr int32_t kDefaultPort = 4000;
inline constexpr int32_t kDefaultLanguage = 1;
inline constexpr int32_t kDefaultSampleRate = 6;
inline constexpr const char* kSettingsFileName = "473config.ini";
inline constexpr const char* kSettingsSection = "Config";

// The four process-wide settings values. The user-interface thread writes
// them; the worker threads read address, port and sample rate while they run,
// so each read is race-free.
class Settings {
public:
    std::string ipServer() const;
    void setIpServer(std::string address);

    std::atomic<int32_t> port{kDefaultPort};
    std::atomic<int32_t> language{kDefaultLanguage};
    std::atomic<int32_t> sampleRate{kDefaultSampleRate};

private:
    mutable std::mutex mutex_;
    std::string ipServer_{kDefaultIpServer};
};

// Records averaged per sample for a SampleRate index; an index outside 0..12
// counts as the default 6.
int32_t recordsPerSample(int32_t sampleRateIndex);
// The labels of the sample interval list, "1 ms" .. "10 s".
const char* sampleRateLabel(int32_t sampleRateIndex);
inline constexpr int kSampleRateCount = 13;

// Access to the settings file, section "Config", by the private-profile
// rules. Every call opens the file, reads or writes and closes it again;
// nothing is cached. Keys keep their spaces ("Color 1") and match without
// regard to case. Texts in the file are Windows-1252; the interface is UTF-8.
//
// Reading takes the first [Config] section and in it the first line of the
// key; the value loses the blanks around it and one pair of enclosing double
// or single quotes. A file that starts with the UTF-8 byte-order mark is read
// and written as UTF-8 and keeps its mark.
class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    const std::string& path() const { return path_; }

    std::string readString(const std::string& key, const std::string& fallback) const;
    // A missing key or a value that is not a decimal integer gives the fallback.
    int32_t readInt(const std::string& key, int32_t fallback) const;
    // Any integer other than 0 is true; a value that is not an integer gives the fallback.
    bool readBool(const std::string& key, bool fallback) const;

    // Writing changes the key's line only (or adds the key after the
    // section's last key, or adds the section, or creates the file); every
    // other byte stays, comments, spacing and line ends included. New lines
    // take the file's line end, CR LF in a new file. The file is replaced
    // atomically (a temporary file beside it, then a rename), so it is never
    // left truncated; a symbolic link is written through to its target; a
    // writable file in a folder that cannot be written is rewritten in place.
    // A file without write permission is left alone. Returns false (errno
    // set) when the file could not be read or written.
    bool writeString(const std::string& key, const std::string& value);
    bool writeInt(const std::string& key, int32_t value);
    bool writeBool(const std::string& key, bool value);
    // Several keys in the given order, in one replacement of the file.
    bool writeStrings(const std::vector<std::pair<std::string, std::string>>& values,
                      std::string* error = nullptr);

private:
    std::string path_;
};

// Reads "IP-Server", "Port", "Language" and "SampleRate" with their defaults.
void readStartupSettings(const SettingsFile& file, Settings& settings);
// Writes the same four keys in that order (one replacement of the file);
// false with a reason in `error` (if given) when the file was not written.
bool writeSetupSettings(SettingsFile& file, const Settings& settings, std::string* error = nullptr);

}  // namespace tarvelo::app
