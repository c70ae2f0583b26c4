#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the instrument, a file or the output failed
inline constexpr int kExitUsage = 2;    // the command line is wrong

enum class Command { Shot, Units, Record, Batch, Convert };

// record --publish: where and how the samples are published. The password
// is never an option: it comes from a file or the environment.
struct PublishOptions {
    std::string url;  // mqtt://HOST[:PORT]/PREFIX or mqtts://...
    int qos = 1;
    std::optional<std::string> clientId;  // default: from the instrument's address and port
    double queueMb = 64;
    double drainSeconds = 10;
    std::optional<std::string> user;
    std::optional<std::string> passwordFile;
    std::optional<std::string> caFile, certFile, keyFile;
};

// What the command line asks for. Address, port and rate left unset come
// from the settings file.
struct Options {
    Command command = Command::Shot;
    std::optional<std::string> address;
    std::optional<int32_t> port;
    std::optional<std::string> settingsFile;
    std::optional<std::string> out;
    // record
    uint64_t samples = 0;
    std::optional<double> seconds;
    std::optional<int32_t> rate;
    std::optional<PublishOptions> publish;
    // convert
    std::string input;
};

struct ParseResult {
    enum class Kind { Run, Text, Usage } kind = Kind::Run;
    Options options;
    // Kind::Text: help or version, printed on standard output (exit 0).
    // Kind::Usage: what is wrong, printed on standard error (exit 2).
    std::string text;
};

ParseResult parseCommandLine(const std::vector<std::string>& arguments);

// The program's help text, and the help of one command.
std::string programHelp();
std::string commandHelp(Command command);

}  // namespace tarvelo::cli
