#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvelo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the instrument, a file or the output failed
inline constexpr int kExitUsage = 2;    // the command line is wrong
// A run ended by a signal exits with 128 + the signal's number, as the shell
// reports a process it ended: 129 SIGHUP, 130 SIGINT, 143 SIGTERM.
inline constexpr int kExitSignalBase = 128;

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
    // "-" is standard output.
    std::optional<std::string> out;
    // The format on standard output: "asc" (the export text) or "csv".
    std::optional<std::string> format;
    // record
    uint64_t samples = 0;
    std::optional<double> seconds;
    std::optional<int32_t> rate;
    // A new file every this much device time (0: one file).
    std::chrono::milliseconds split{0};
    // How long a lost stream is tried again (0: not at all).
    std::chrono::milliseconds retry{30000};
    // A stream that sends nothing this long ends the run as a failure.
    std::chrono::milliseconds stall{10000};
    // How long a connect to the instrument may take.
    std::optional<std::chrono::milliseconds> connectTimeout;
    // shot: readings taken (0: until a signal), and the time from the start
    // of one to the start of the next
    std::optional<uint64_t> count;
    std::chrono::milliseconds interval{1000};
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
