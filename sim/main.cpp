// tarvelo-sim: the simulated instrument as a program of its own, for the run command and for
// trying the program by hand. Listens on 127.0.0.1 only.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/instrument.h"

namespace {

using tarvelo::sim::CommandFault;
using tarvelo::sim::StreamFault;

const char kUsage[] =
    "Usage: tarvelo-sim [options]\n"
    "A simulated four-channel instrument on 127.0.0.1 (command port N, stream port N + 2).\n"
    "\n"
    "Options:\n"
    "  --port N         command port (default 4000; 0 picks a free port and prints it)\n"
    "  --rate R         stream records per second (default 1000; 0 = as fast as possible)\n"
    "  --stream KIND    what the stream records carry (default signal):\n"
    "                   signal  the values that \"#X00\" reports (a level, slow drift, a\n"
    "                           periodic part and a little noise per channel; 0 on a channel\n"
    "                           without a unit), time stamps on the device clock\n"
    "                   exact   record i holds 1000 * c + 0.25 * i on channel c and the\n"
    "                           time stamp clock start + i ms, for checking every record\n"
    "  --batch-count N  data sets in the batch memory (default 25)\n"
    "  --units a,b,c,d  units of channels 1 to 4 in UTF-8; an empty unit means not\n"
    "                   connected (default: N,mm,,\xC2\xB0"
    "C)\n"
    "  --fault NAME     misbehave on purpose; NAME is one of: split-reply, end-mark-alone,\n"
    "                   no-end-mark, wrong-echo, no-reply, close-mid-reply,\n"
    "                   refuse-connections, oversized-reply, split-records, stall,\n"
    "                   close-stream\n"
    "  --log-commands   print every command text received, one a line, as it arrives\n"
    "  --drop-after N   drop off the network after N stream records: the stream is\n"
    "                   closed and every connection refused from then on\n"
    "  --help           show this text and exit\n"
    "\n"
    "Runs until SIGINT or SIGTERM.\n";

// The Windows-1252 bytes 0x80 to 0x9F and the characters they stand for (0 = undefined).
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// UTF-8 to Windows-1252; characters outside the code page (and broken UTF-8) become '?'.
std::string toCp1252(std::string_view utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto b = static_cast<unsigned char>(utf8[i]);
        int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
        char32_t cp = extra == 0   ? b
                      : extra == 1 ? (b & 0x1F)
                      : extra == 2 ? (b & 0x0F)
                                   : (b & 0x07);
        bool ok = extra >= 0 && i + extra < utf8.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto c = static_cast<unsigned char>(utf8[i + k]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k)
            if (kCp1252High[k] != 0 && kCp1252High[k] == cp)
                mapped = static_cast<char>(0x80 + k);
        out += mapped;
    }
    return out;
}

std::optional<long> parseNumber(const char* text, long lo, long hi) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return std::nullopt;
    return v;
}

struct Fault {
    const char* name;
    std::optional<CommandFault> command;
    std::optional<StreamFault> stream;
};

const Fault kFaults[] = {
    {"split-reply", CommandFault::SplitReply, {}},
    {"end-mark-alone", CommandFault::EndMarkAlone, {}},
    {"no-end-mark", CommandFault::NoEndMark, {}},
    {"wrong-echo", CommandFault::WrongEcho, {}},
    {"no-reply", CommandFault::NoReply, {}},
    {"close-mid-reply", CommandFault::CloseMidReply, {}},
    {"refuse-connections", CommandFault::RefuseConnections, {}},
    {"oversized-reply", CommandFault::OversizedReply, {}},
    {"split-records", {}, StreamFault::SplitRecords},
    {"stall", {}, StreamFault::Stall},
    {"close-stream", {}, StreamFault::CloseStream},
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "tarvelo-sim: %s\n%s", message.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    tarvelo::sim::InstrumentConfig config;
    config.port = 4000;
    config.stream = tarvelo::sim::StreamSignal::Signal;
    const Fault* fault = nullptr;
    bool logCommands = false;

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--log-commands") {
            logCommands = true;
            continue;
        }
        if (arg != "--port" && arg != "--rate" && arg != "--stream" && arg != "--batch-count" &&
            arg != "--units" && arg != "--fault" && arg != "--drop-after")
            return usageError("unknown option " + std::string(arg));
        if (i + 1 >= argc)
            return usageError("missing value after " + std::string(arg));
        const char* value = argv[++i];
        if (arg == "--port") {
            auto v = parseNumber(value, 0, 65533);
            if (!v)
                return usageError("--port needs a number from 0 to 65533");
            config.port = static_cast<uint16_t>(*v);
        } else if (arg == "--rate") {
            char* end = nullptr;
            double r = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(r >= 0) || r > 1e9)
                return usageError("--rate needs a number of records per second, 0 or more");
            config.recordsPerSecond = r;
        } else if (arg == "--stream") {
            if (std::strcmp(value, "signal") == 0)
                config.stream = tarvelo::sim::StreamSignal::Signal;
            else if (std::strcmp(value, "exact") == 0)
                config.stream = tarvelo::sim::StreamSignal::Exact;
            else
                return usageError("--stream needs signal or exact");
        } else if (arg == "--batch-count") {
            auto v = parseNumber(value, 0, 100000000);
            if (!v)
                return usageError("--batch-count needs a number from 0 to 100000000");
            config.batchCount = static_cast<int32_t>(*v);
        } else if (arg == "--drop-after") {
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(value, &end, 10);
            if (errno != 0 || end == value || *end != '\0' || n == 0)
                return usageError("--drop-after needs a number of records above 0");
            config.dropAfterRecords = n;
        } else if (arg == "--units") {
            std::string_view list = value;
            for (int c = 0; c < 4; ++c) {
                std::size_t comma = list.find(',');
                if ((c < 3) != (comma != std::string_view::npos))
                    return usageError("--units needs exactly four units separated by commas");
                config.units[c] = toCp1252(list.substr(0, comma));
                list = c < 3 ? list.substr(comma + 1) : std::string_view();
            }
        } else {
            for (const Fault& f : kFaults)
                if (std::strcmp(f.name, value) == 0)
                    fault = &f;
            if (!fault)
                return usageError("unknown fault " + std::string(value));
        }
    }

    // Block the stop signals before any thread starts, so that only sigwait() below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    tarvelo::sim::Instrument instrument(config);
    if (!instrument.start()) {
        std::fprintf(stderr, "tarvelo-sim: cannot listen on 127.0.0.1 port %u and %u\n",
                     unsigned(config.port), unsigned(config.port + 2));
        return 1;
    }
    if (fault && fault->command)
        instrument.setCommandFault(*fault->command);
    if (fault && fault->stream)
        instrument.setStreamFault(*fault->stream);

    std::printf("tarvelo-sim listening on 127.0.0.1 command port %u, stream port %u\n",
                unsigned(instrument.commandPort()), unsigned(instrument.streamPort()));
    std::fflush(stdout);

    if (logCommands) {
        // Looks for new commands every 20 ms until a stop signal comes.
        std::size_t printed = 0;
        const timespec interval{0, 20'000'000};
        for (;;) {
            const std::vector<std::string> log = instrument.commandLog();
            for (; printed < log.size(); ++printed)
                std::printf("command %s\n", log[printed].c_str());
            std::fflush(stdout);
            const int got = sigtimedwait(&stopSignals, nullptr, &interval);
            if (got == SIGINT || got == SIGTERM)
                break;
        }
    } else {
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
    }
    instrument.stop();
    return 0;
}
