#include "cli/options.h"

#include <arpa/inet.h>
#include <charconv>
#include <cmath>
#include <getopt.h>
#include <netinet/in.h>

#include "app/settings.h"
#include "publish/broker_url.h"

namespace tarvelo::cli {

namespace {

constexpr const char* kProgram = "tarvelo-cli";

struct CommandName {
    const char* name;
    Command command;
};
constexpr CommandName kCommands[] = {{"shot", Command::Shot},
                                     {"units", Command::Units},
                                     {"record", Command::Record},
                                     {"batch", Command::Batch},
                                     {"convert", Command::Convert}};

const char* nameOf(Command command) {
    for (const auto& entry : kCommands)
        if (entry.command == command)
            return entry.name;
    return "";
}

ParseResult usage(std::string text) {
    ParseResult result;
    result.kind = ParseResult::Kind::Usage;
    result.text = std::move(text);
    return result;
}

ParseResult textResult(std::string text) {
    ParseResult result;
    result.kind = ParseResult::Kind::Text;
    result.text = std::move(text);
    return result;
}

template <typename Integer>
bool parseInteger(const std::string& text, Integer& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// Seconds as whole milliseconds: at least 1 ms, at most about 290 years.
bool parseMilliseconds(const std::string& text, std::chrono::milliseconds& value) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, seconds);
    if (ec != std::errc() || ptr != end || !std::isfinite(seconds) || seconds <= 0 || seconds > 9e9)
        return false;
    value = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return value.count() > 0;
}

bool parseSeconds(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value) && value > 0;
}

// getopt_long over a copy of the arguments; it wants writable C strings.
class Argv {
public:
    explicit Argv(const std::vector<std::string>& arguments) : storage_(arguments) {
        for (auto& argument : storage_)
            pointers_.push_back(argument.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> storage_;
    std::vector<char*> pointers_;
};

enum LongOption : int {
    kOptAddress = 1000,
    kOptPort,
    kOptSettings,
    kOptVersion,
    kOptSamples,
    kOptSeconds,
    kOptRate,
    kOptFormat,
    kOptStall,
    kOptConnectTimeout,
    kOptCount,
    kOptInterval,
    kOptSplit,
    kOptRetry,
    kOptPublish,
    kOptQos,
    kOptClientId,
    kOptQueueMb,
    kOptDrain,
    kOptMqttUser,
    kOptMqttPasswordFile,
    kOptMqttCafile,
    kOptMqttCert,
    kOptMqttKey,
};

// The long name of the option whose value is `val`.
std::string longName(const option* table, int val) {
    for (; table->name != nullptr; ++table)
        if (table->val == val)
            return table->name;
    return {};
}

bool parseDecimal(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

std::string unknownOption(int optopt, char** argv, const std::string& where) {
    const std::string what = optopt > 0 && optopt < 1000
                                 ? std::string("-") + static_cast<char>(optopt)
                                 : std::string(argv[optind - 1] ? argv[optind - 1] : "");
    return "unknown option or missing value: " + what + where;
}

}  // namespace

std::string programHelp() {
    return std::string("Usage: ") + kProgram +
           " [--address A] [--port P] [--settings FILE] COMMAND [options]\n"
           "Takes readings, records runs and reads out the batch memory of the four-channel\n"
           "instrument, and converts sample files and recordings.\n"
           "\n"
           "Commands:\n"
           "  shot      one reading of the four channels\n"
           "  units     the four channel captions with their units\n"
           "  record    record a run from the instrument's stream\n"
           "  batch     read out the instrument's batch memory\n"
           "  convert   turn a sample file (.dat) or a recording into another format\n"
           "\n"
           "Options:\n"
           "  --address A      the instrument's IPv4 address (default: IP-Server of the\n"
           "                   settings file)\n"
           "  --port P         its command port; the stream is on P + 2 (default: Port of\n"
           "                   the settings file)\n"
           "  --settings FILE  the settings file to read instead of the window program's\n"
           "  --help           show this text; COMMAND --help shows the command's options\n"
           "  --version        show the version\n"
           "\n"
           "The output format follows the extension of --out: .dat sample file, .asc export\n"
           "text, .xlsx workbook, .csv comma-separated values, .txt batch file (batch only).\n"
           "Without --out, or with --out -, the output goes to standard output: the export\n"
           "text, or comma-separated values with --format csv.\n"
           "Exit status: 0 success, 1 failure or an early end, 2 wrong command line,\n"
           "128 + N ended by signal N (129 SIGHUP, 130 SIGINT, 143 SIGTERM).\n";
}

std::string commandHelp(Command command) {
    const std::string head = std::string("Usage: ") + kProgram + " [global options] ";
    switch (command) {
        case Command::Shot:
            return head +
                   "shot [--count N [--interval S]] [--out FILE] [--format F]\n"
                   "One reading of the four channels: the export header line and one data\n"
                   "line (number 1), or the file --out names.\n"
                   "  --count N      take N readings (0: until a signal) on one set of unit\n"
                   "                 queries; on standard output each line as it is taken\n"
                   "  --interval S   seconds from the start of one reading to the next\n"
                   "                 (default 1; a reading takes about 0.1 s)\n";
        case Command::Units:
            return head +
                   "units\n"
                   "The captions of the four channels with their units, one a line,\n"
                   "for example \"Channel 1 (N)\" or \"Channel 3 (N.C.)\".\n";
        case Command::Record:
            return head +
                   "record [--samples N] [--seconds S] [--rate INDEX] [--out FILE]\n"
                   "Starts the instrument's stream, averages its records into samples and\n"
                   "writes them as they come; stops the stream at the end.\n"
                   "  --samples N    stop after N samples\n"
                   "  --seconds S    stop before the first sample S seconds of device time\n"
                   "                 after the first one (decimals allowed, at least 0.001)\n"
                   "                 Without either, the run goes on until a signal ends it.\n"
                   "  --rate INDEX   records averaged per sample: 0 = 1 ms, 1 = 2 ms, 2 = 5 ms,\n"
                   "                 3 = 10 ms, 4 = 20 ms, 5 = 50 ms, 6 = 100 ms, 7 = 200 ms,\n"
                   "                 8 = 500 ms, 9 = 1 s, 10 = 2 s, 11 = 5 s, 12 = 10 s\n"
                   "                 (default: SampleRate of the settings file)\n"
                   "  --out FILE     .asc, .csv, .xlsx (at most 1048575 samples) or .dat (at\n"
                   "                 most 10240 samples); - for standard output\n"
                   "  --format F     on standard output: asc (default) or csv\n"
                   "  --split S      a new file every S seconds of device time, on one\n"
                   "                 stream: FILE-0001.ext, FILE-0002.ext, ..., each renamed\n"
                   "                 from its .part as soon as the next one begins\n"
                   "  --stall S      the stream is lost when no record came for S seconds\n"
                   "                 (default 10)\n"
                   "  --retry S      connect a lost stream again for up to S seconds, first\n"
                   "                 after 0.2 s, then up to every 1 s (default 30; 0: off);\n"
                   "                 the gap is reported and the numbering goes on\n"
                   "  --connect-timeout S  how long a connect may take (default 3)\n"
                   "A file is written as FILE.part while the run goes on and renamed to FILE\n"
                   "when the run ends as asked, at a size limit or by a signal; when the\n"
                   "instrument vanishes, stalls or a write fails, FILE.part keeps what was\n"
                   "recorded and the exit status is 1. Ctrl+C, SIGTERM or SIGHUP end the run:\n"
                   "the stream is stopped, everything recorded is kept, exit 128 + signal.\n"
"Publishing to an MQTT broker (with or without --out):\n"
                   "  --publish URL              mqtt://HOST[:PORT]/PREFIX, or mqtts:// for TLS\n"
                   "  --qos 0|1|2                quality of service (default 1)\n"
                   "  --client-id ID             default: tarvelo-ADDRESS-PORT\n"
                   "  --queue-mb MB              memory for samples waiting for the broker\n"
                   "                             (default 64); past it the oldest are dropped\n"
                   "  --drain SECONDS            wait at the end for unacknowledged samples\n"
                   "                             (default 10)\n"
                   "  --mqtt-user USER           user name at the broker\n"
                   "  --mqtt-password-file FILE  its password (or TARVELO_MQTT_PASSWORD)\n"
                   "  --mqtt-cafile FILE         CA certificate of the broker (mqtts)\n"
                   "  --mqtt-cert FILE           client certificate (mqtts)\n"
                   "  --mqtt-key FILE            its private key (mqtts)\n";
        case Command::Batch:
            return head +
                   "batch [--out FILE] [--format F]\n"
                   "Reads out the instrument's batch memory. A .txt target gets the batch\n"
                   "file with peaks, units and serial numbers; other targets get the values\n"
                   "and times as samples. A readout ended by a signal keeps the data sets\n"
                   "read in FILE (exit 128 + signal); one whose instrument was lost keeps\n"
                   "them in FILE.part (exit 1).\n";
        case Command::Convert:
            return head +
                   "convert IN [--out FILE]\n"
                   "Writes the samples of a sample file (.dat) or of a recording (.asc or\n"
                   ".csv as the programs record them, also .part) in the format of FILE's\n"
                   "extension (.asc, .csv, .xlsx or .dat), or the export text to standard\n"
                   "output.\n";
    }
    return {};
}

ParseResult parseCommandLine(const std::vector<std::string>& arguments) {
    Argv args(arguments);
    Options options;

    // Global options stop at the command name ("+").
    static const option kGlobal[] = {{"address", required_argument, nullptr, kOptAddress},
                                     {"port", required_argument, nullptr, kOptPort},
                                     {"settings", required_argument, nullptr, kOptSettings},
                                     {"help", no_argument, nullptr, 'h'},
                                     {"version", no_argument, nullptr, kOptVersion},
                                     {nullptr, 0, nullptr, 0}};
    opterr = 0;
    optind = 0;  // glibc: start afresh
    int opt;
    while ((opt = getopt_long(args.argc(), args.argv(), "+h", kGlobal, nullptr)) != -1) {
        switch (opt) {
            case kOptAddress: {
                in_addr parsed{};
                if (inet_pton(AF_INET, optarg, &parsed) != 1)
                    return usage(std::string("--address: not an IPv4 address in dotted-decimal "
                                             "form: ") +
                                 optarg);
                options.address = optarg;
                break;
            }
            case kOptPort: {
                int32_t port = 0;
                if (!parseInteger(optarg, port) || port < 1 || port > 65535)
                    return usage(std::string("--port: not a port number from 1 to 65535: ") +
                                 optarg);
                options.port = port;
                break;
            }
            case kOptSettings:
                options.settingsFile = optarg;
                break;
            case 'h':
                return textResult(programHelp());
            case kOptVersion:
                return textResult(std::string(kProgram) + " " + TARVELO_VERSION + "\n");
            default:
                return usage(unknownOption(optopt, args.argv(), ""));
        }
    }
    if (optind >= args.argc())
        return usage("no command given (shot, units, record, batch or convert)");

    const std::string name = args.argv()[optind];
    bool known = false;
    for (const auto& entry : kCommands) {
        if (name == entry.name) {
            options.command = entry.command;
            known = true;
        }
    }
    if (!known)
        return usage("unknown command: " + name);
    const std::string where = std::string(" (") + nameOf(options.command) + ")";

    // The command's own options, from the argument after its name.
    std::vector<std::string> rest{name};
    for (int i = optind + 1; i < args.argc(); ++i)
        rest.emplace_back(args.argv()[i]);
    Argv commandArgs(rest);
    static const option kCommandOptions[] = {{"out", required_argument, nullptr, 'o'},
                                             {"samples", required_argument, nullptr, kOptSamples},
                                             {"seconds", required_argument, nullptr, kOptSeconds},
                                             {"rate", required_argument, nullptr, kOptRate},
                                             {"format", required_argument, nullptr, kOptFormat},
                                             {"stall", required_argument, nullptr, kOptStall},
                                             {"connect-timeout", required_argument, nullptr,
                                              kOptConnectTimeout},
                                             {"count", required_argument, nullptr, kOptCount},
                                             {"split", required_argument, nullptr, kOptSplit},
                                             {"retry", required_argument, nullptr, kOptRetry},
                                             {"interval", required_argument, nullptr, kOptInterval},
                                             {"publish", required_argument, nullptr, kOptPublish},
                                             {"qos", required_argument, nullptr, kOptQos},
                                             {"client-id", required_argument, nullptr, kOptClientId},
                                             {"queue-mb", required_argument, nullptr, kOptQueueMb},
                                             {"drain", required_argument, nullptr, kOptDrain},
                                             {"mqtt-user", required_argument, nullptr, kOptMqttUser},
                                             {"mqtt-password-file", required_argument, nullptr,
                                              kOptMqttPasswordFile},
                                             {"mqtt-cafile", required_argument, nullptr, kOptMqttCafile},
                                             {"mqtt-cert", required_argument, nullptr, kOptMqttCert},
                                             {"mqtt-key", required_argument, nullptr, kOptMqttKey},
                                             {"help", no_argument, nullptr, 'h'},
                                             {nullptr, 0, nullptr, 0}};
    const bool record = options.command == Command::Record;
    std::vector<std::string> positional;
    // The publishing options are gathered here and kept only with --publish.
    PublishOptions publish;
    std::vector<std::string> publishOptionsGiven;
    optind = 0;
    while (true) {
        opt = getopt_long(commandArgs.argc(), commandArgs.argv(), "-ho:", kCommandOptions, nullptr);
        if (opt == -1)
            break;
        switch (opt) {
            case 1:  // a non-option argument, in order
                positional.emplace_back(optarg);
                break;
            case 'h':
                return textResult(commandHelp(options.command));
            case 'o':
                if (options.command == Command::Units)
                    return usage("--out is not an option of units");
                if (std::string(optarg).empty())
                    return usage("--out: empty file name");
                options.out = optarg;
                break;
            case kOptSamples: {
                uint64_t samples = 0;
                if (!record)
                    return usage("--samples is an option of record only");
                if (!parseInteger(optarg, samples) || samples == 0)
                    return usage(std::string("--samples: not a whole number above 0: ") + optarg);
                options.samples = samples;
                break;
            }
            case kOptSeconds: {
                double seconds = 0;
                if (!record)
                    return usage("--seconds is an option of record only");
                // Beyond about 290 years the duration would not fit.
                if (!parseSeconds(optarg, seconds) || seconds > 9e9)
                    return usage(std::string("--seconds: not a number of seconds above 0: ") +
                                 optarg);
                // A duration of 0 ms would be no end at all.
                if (std::llround(seconds * 1000.0) == 0)
                    return usage(std::string("--seconds: rounds to 0 ms (at least 0.001): ") +
                                 optarg);
                options.seconds = seconds;
                break;
            }
            case kOptFormat:
                if (options.command == Command::Units)
                    return usage("--format is not an option of units");
                if (std::string(optarg) != "csv" && std::string(optarg) != "asc")
                    return usage(std::string("--format: csv or asc, not ") + optarg);
                options.format = optarg;
                break;
            case kOptCount: {
                uint64_t count = 0;
                if (options.command != Command::Shot)
                    return usage("--count is an option of shot only");
                if (!parseInteger(optarg, count))
                    return usage(std::string("--count: not a whole number (0: until a signal): ") +
                                 optarg);
                options.count = count;
                break;
            }
            case kOptInterval:
                if (options.command != Command::Shot)
                    return usage("--interval is an option of shot only");
                if (!parseMilliseconds(optarg, options.interval))
                    return usage(std::string("--interval: not a number of seconds of at least "
                                             "0.001: ") +
                                 optarg);
                break;
            case kOptRetry:
                if (!record)
                    return usage("--retry is an option of record only");
                if (std::string(optarg) == "0")
                    options.retry = std::chrono::milliseconds(0);
                else if (!parseMilliseconds(optarg, options.retry))
                    return usage(std::string("--retry: not a number of seconds (0: off): ") +
                                 optarg);
                break;
            case kOptStall:
            case kOptSplit:
            case kOptConnectTimeout: {
                const char* name = opt == kOptStall   ? "--stall"
                                   : opt == kOptSplit ? "--split"
                                                      : "--connect-timeout";
                std::chrono::milliseconds value{0};
                if (!record)
                    return usage(std::string(name) + " is an option of record only");
                if (!parseMilliseconds(optarg, value))
                    return usage(std::string(name) + ": not a number of seconds of at least 0.001: " +
                                 optarg);
                if (opt == kOptStall)
                    options.stall = value;
                else if (opt == kOptSplit)
                    options.split = value;
                else
                    options.connectTimeout = value;
                break;
            }
            case kOptRate: {
                int32_t rate = -1;
                if (!record)
                    return usage("--rate is an option of record only");
                if (!parseInteger(optarg, rate) || rate < 0 || rate >= app::kSampleRateCount)
                    return usage(std::string("--rate: INDEX must be 0 to 12, not ") + optarg);
                options.rate = rate;
                break;
            }
            case kOptPublish: {
                if (!record)
                    return usage("--publish is an option of record only");
                std::string error;
                if (!publish::parseBrokerUrl(optarg, error))
                    return usage("--publish: " + error);
                publish.url = optarg;
                break;
            }
            case kOptQos:
            case kOptClientId:
            case kOptQueueMb:
            case kOptDrain:
            case kOptMqttUser:
            case kOptMqttPasswordFile:
            case kOptMqttCafile:
            case kOptMqttCert:
            case kOptMqttKey: {
                const std::string option = longName(kCommandOptions, opt);
                if (!record)
                    return usage("--" + option + " is an option of record only");
                publishOptionsGiven.push_back("--" + option);
                const std::string value = optarg;
                if (opt == kOptQos) {
                    if (value != "0" && value != "1" && value != "2")
                        return usage("--qos: 0, 1 or 2, not " + value);
                    publish.qos = value[0] - '0';
                } else if (opt == kOptQueueMb) {
                    // At least one sample's worth, at most what a size_t holds.
                    if (!parseDecimal(value, publish.queueMb) || publish.queueMb < 0.001 ||
                        publish.queueMb > 1e9)
                        return usage("--queue-mb: not a size in megabytes above 0: " + value);
                } else if (opt == kOptDrain) {
                    if (!parseDecimal(value, publish.drainSeconds) || publish.drainSeconds < 0 ||
                        publish.drainSeconds > 9e6)
                        return usage("--drain: not a number of seconds, 0 or more: " + value);
                } else if (value.empty()) {
                    return usage("--" + option + ": empty value");
                } else if (opt == kOptClientId) {
                    publish.clientId = value;
                } else if (opt == kOptMqttUser) {
                    publish.user = value;
                } else if (opt == kOptMqttPasswordFile) {
                    publish.passwordFile = value;
                } else if (opt == kOptMqttCafile) {
                    publish.caFile = value;
                } else if (opt == kOptMqttCert) {
                    publish.certFile = value;
                } else {
                    publish.keyFile = value;
                }
                break;
            }
            default:
                return usage(unknownOption(optopt, commandArgs.argv(), where));
        }
    }
    if (!publish.url.empty()) {
        if (publish.certFile.has_value() != publish.keyFile.has_value())
            return usage("--mqtt-cert and --mqtt-key go together");
        const bool tls = publish.url.starts_with("mqtts:");
        if (!tls && (publish.caFile || publish.certFile))
            return usage("--mqtt-cafile, --mqtt-cert and --mqtt-key need an mqtts:// broker");
        options.publish = std::move(publish);
    } else if (!publishOptionsGiven.empty()) {
        return usage(publishOptionsGiven.front() + " needs --publish");
    }

    if (options.command == Command::Convert) {
        if (positional.size() != 1)
            return usage("convert takes one sample file or recording (convert IN --out FILE)");
        options.input = positional.front();
    } else if (!positional.empty()) {
        return usage("unexpected argument: " + positional.front() + where);
    }
    if (options.split.count() > 0 && (!options.out || *options.out == "-"))
        return usage("--split needs --out FILE: the files are named FILE-0001.ext, ...");
    // --format chooses what goes to standard output; a file's format is its
    // extension.
    if (options.format && options.out && *options.out != "-")
        return usage("--format applies to standard output (--out -); the format of " +
                     *options.out + " follows its extension");
    ParseResult result;
    result.options = std::move(options);
    return result;
}

}  // namespace tarvelo::cli
