#include "cli/commands.h"

#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <unistd.h>
#include <vector>

#include "acquisition/batch_readout.h"
#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "acquisition/stream_recording.h"
#include "app/program_paths.h"
#include "app/uitext.h"
#include "cli/fan_out_sink.h"
#include "cli/output.h"
#include "cli/publishing.h"
#include "cli/record_output.h"
#include "device/replies.h"
#include "files/sample_file.h"

namespace tarvelo::cli {

namespace {

using acquisition::SampleRow;

// What the program prints is for scripts: English whatever the settings say.
constexpr int kEnglish = 1;

void message(const std::string& text) {
    std::fprintf(stderr, "tarvelo-cli: %s\n", text.c_str());
}

int fail(const std::string& text) {
    message(text);
    return kExitFailure;
}

std::string peerOf(const Context& context) {
    return context.settings.ipServer() + ":" + std::to_string(context.settings.port.load());
}

// What the link would show in the status bar and in boxes, kept for the
// messages: a failed connect and a failed send.
class QuietObserver : public device::LinkObserver {
public:
    void showStatus(int entry) override {
        if (entry == device::kStatusFailed)
            connectFailed = true;
    }
    void showSendError() override { sendFailed = true; }
    bool connectFailed = false;
    bool sendFailed = false;
};

// The command connection of one command, as the window program uses it.
class Link {
public:
    explicit Link(Context& context)
        : context_(context), link_(context.settings, timeoutMs_, &observer_, context.timing) {}

    device::DeviceLink& device() { return link_; }
    bool connectFailed() const { return observer_.connectFailed; }
    std::string connectError() const {
        return device::describeConnectFailure(
            context_.settings.ipServer(), context_.settings.port.load(), link_.lastConnectError(),
            context_.timing.connectTimeout);
    }

    bool connect(std::string& error) {
        if (link_.ConnectServer() == 0)
            return true;
        error = connectError();
        return false;
    }

    // One exchange on a connection of its own; the reply, or nullopt with
    // the reason when nothing came back.
    std::optional<std::string> exchange(const std::string& command, std::string& error) {
        if (!connect(error))
            return std::nullopt;
        observer_.sendFailed = false;
        std::string reply = link_.SendReceive(command);
        link_.DisconnectServer();
        if (observer_.sendFailed) {
            error = "could not send " + command + " to " + peerOf(context_);
            return std::nullopt;
        }
        if (reply.empty()) {
            error = "no reply from " + peerOf(context_) + " to " + command;
            return std::nullopt;
        }
        return reply;
    }

private:
    Context& context_;
    std::atomic<int32_t> timeoutMs_{1000};
    QuietObserver observer_;
    device::DeviceLink link_;
};

std::string wrongEcho(const std::string& command) {
    return "reply to " + command + " without the expected echo";
}

// The plain English captions: for files that carry no units.
acquisition::SampleList plainCaptions() {
    app::UiText text;
    text.applyLanguage(kEnglish);
    acquisition::SampleList list;
    list.setPlainCaptions(text);
    return list;
}

// The captions with the units the instrument reports, on one connection as
// at the window program's first contact; the units alone in `units` (empty
// for a channel that is not connected).
bool readCaptions(Link& link, acquisition::SampleList& list, std::string& error,
                  std::array<std::string, 4>* units = nullptr) {
    app::UiText text;
    text.applyLanguage(kEnglish);
    if (!link.connect(error))
        return false;
    acquisition::MeasurementMemory scratch;
    const bool answered = acquisition::UpdateChannelCaptions(link.device(), list, scratch, text);
    link.device().DisconnectServer();
    if (!answered) {
        error = "replies to the unit queries (#Z00, #Z75) without the expected echo";
        return false;
    }
    if (units != nullptr)
        for (int channel = 1; channel <= 4; ++channel)
            (*units)[static_cast<std::size_t>(channel - 1)] = scratch.channelUnit(channel);
    return true;
}

std::optional<Target> targetOf(const Context& context, int& status) {
    std::string error;
    auto target = targetFor(context.options.out, context.options.command == Command::Batch, error);
    if (!target) {
        message(error);
        status = kExitUsage;
    }
    return target;
}

std::string outPath(const Context& context) {
    return context.options.out.value_or("");
}

// ---- record ---------------------------------------------------------------------

extern "C" void onStopSignal(int) {
    stopRequest().store(true);
}

// Installed without SA_RESTART, so that a signal also ends a receive that
// is waiting. Once only: a second Ctrl+C ends the program at once, should
// stopping the stream take long with an instrument that does not answer.
void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// ---- batch ----------------------------------------------------------------------

// The messages a readout would show in boxes go to standard error, named by
// the command whose reply was wrong and the data set it was for.
class BatchMessages : public acquisition::BatchUi {
public:
    void error(const char* text) override {
        ++errors;
        const std::string which = text == device::kErrM01   ? "#M01"
                                  : text == device::kErrM11 ? "#M11"
                                  : text == device::kErrM40 ? "#M40"
                                  : text == device::kErrM21 ? "#M21"
                                  : text == device::kErrM31 ? "#M31"
                                  : text == device::kErrM5  ? "#M5"
                                  : text == device::kErrM6  ? "#M6"
                                                            : "a query";
        if (which == "#M01") {
            message(wrongEcho(which));
            return;
        }
        // The data set being read is the one after those finished.
        message("data set " + std::to_string(position_) + ": " + wrongEcho(which) + " (" + text +
                ")");
    }
    void progressStart(int maximum) override { maximum_ = maximum; }
    void progress(int position) override {
        position_ = position;
        progress_.show("data set " + std::to_string(position) + " of " + std::to_string(maximum_));
    }
    void progressFinish() override { progress_.finish(); }
    bool cancelRequested() override { return stopRequest().load(); }
    void rowAppended(const SampleRow& row) override { rows.push_back(row); }

    std::vector<SampleRow> rows;
    int errors = 0;

private:
    Progress progress_;
    int maximum_ = 0;
    int position_ = 0;
};

}  // namespace

std::atomic<bool>& stopRequest() {
    static std::atomic<bool> stop{false};
    return stop;
}

int runShot(Context& context) {
    int status = kExitOk;
    const auto target = targetOf(context, status);
    if (!target)
        return status;

    Link link(context);
    acquisition::SampleList captions;
    std::string error;
    if (!readCaptions(link, captions, error))
        return fail(error);
    const auto reply = link.exchange(device::kCmdCurrentSample, error);
    if (!reply)
        return fail(error);
    const auto sample = device::parseCurrentSample(*reply);
    if (!sample)
        return fail(wrongEcho(device::kCmdCurrentSample));

    SampleRow row{};
    for (int c = 0; c < 4; ++c)
        row.channel[c] = sample->channel[static_cast<std::size_t>(c)];
    row.timeMs = sample->timeMs;
    if (!writeRows(*target, outPath(context), std::span<const SampleRow>(&row, 1), captions, error))
        return fail(error);
    return kExitOk;
}

int runUnits(Context& context) {
    Link link(context);
    acquisition::SampleList captions;
    std::string error;
    if (!readCaptions(link, captions, error))
        return fail(error);
    std::string text;
    for (int channel = 1; channel <= 4; ++channel)
        text += captions.channelCaption(channel) + "\n";
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0)
        return fail("cannot write to standard output");
    return kExitOk;
}

int runRecord(Context& context) {
    int status = kExitOk;
    const Options& options = context.options;
    // With --publish and no --out the samples go to the broker only.
    const bool toOutput = !options.publish || options.out;
    const auto target = toOutput ? targetOf(context, status) : std::optional<Target>(Target::Stdout);
    if (!target)
        return status;

    acquisition::RecordingPlan plan;
    plan.address = context.settings.ipServer();
    plan.port = context.settings.port.load();
    plan.sampleRate = options.rate.value_or(context.settings.sampleRate.load());
    plan.samples = options.samples;
    if (options.seconds)
        plan.duration = std::chrono::milliseconds(
            static_cast<int64_t>(std::llround(*options.seconds * 1000.0)));
    plan.timing = context.timing;
    if (plan.port > 65533) {
        message("the stream port " + std::to_string(plan.port) + " + 2 is above 65535");
        return kExitUsage;
    }
    if (*target == Target::SampleFile) {
        // The instrument sends one record per millisecond.
        const double expected =
            options.seconds ? *options.seconds * 1000.0 / app::recordsPerSample(plan.sampleRate)
                            : static_cast<double>(options.samples);
        if (expected > static_cast<double>(kSampleFileLimit)) {
            message("a sample file holds at most 10240 samples; this run would give " +
                    std::to_string(static_cast<uint64_t>(expected)) + " (use .asc, .csv or .xlsx)");
            return kExitUsage;
        }
    }

    Link link(context);
    acquisition::SampleList captions;
    std::string error;
    std::array<std::string, 4> units;
    if (!readCaptions(link, captions, error, &units))
        return fail(error);

    RecordOutput output(*target, plan);
    if (toOutput && !output.open(outPath(context), captions, error))
        return fail(error);
    Publishing publishing;
    if (options.publish && !publishing.start(context, captions, units, error, status)) {
        message(error);
        return status;
    }
    FanOutSink sink;
    sink.add(toOutput ? &output : nullptr);
    sink.add(publishing.sink());

    catchStopSignals();
    const auto result = acquisition::recordStream(plan, sink, stopRequest());

    using acquisition::RecordingEnd;
    if (!result.error.empty())
        message(result.error);
    if (result.end == RecordingEnd::SinkFailed)
        message(output.error());
    // Nothing was recorded when the run could not start, and a failed output
    // cannot be completed. Otherwise what was recorded is written.
    const bool keep = result.end != RecordingEnd::ConnectFailed &&
                      result.end != RecordingEnd::StartFailed &&
                      result.end != RecordingEnd::SinkFailed;
    const bool written = !toOutput || output.finish(keep, error);
    if (!written)
        message(error);
    // Every sample acknowledged by the broker, or the run fails.
    const bool published = publishing.finish(result.end);
    return written && published && keep && result.ok() ? kExitOk : kExitFailure;
}

int runBatch(Context& context) {
    int status = kExitOk;
    const auto target = targetOf(context, status);
    if (!target)
        return status;

    Link link(context);
    BatchMessages ui;
    acquisition::BatchSummary summary;
    std::string error;
    acquisition::SampleList captions;
    if (*target != Target::BatchFile && !readCaptions(link, captions, error))
        return fail(error);

    // Ctrl+C or SIGTERM cancels the readout once the exchange in progress is
    // over; nothing is written then.
    catchStopSignals();
    bool written = false;
    if (*target == Target::BatchFile) {
        const auto result =
            acquisition::batchToFile(link.device(), outPath(context), ui, &error, &summary);
        if (result == acquisition::BatchFileResult::WriteFailed)
            return fail(error);
        written = result == acquisition::BatchFileResult::Written;
    } else {
        acquisition::MeasurementMemory scratch;
        acquisition::batchToMemory(link.device(), scratch, ui, &summary);
    }
    ui.progressFinish();

    const std::string notWritten = *target == Target::Stdout
                                       ? std::string("nothing was written")
                                       : outPath(context) + " was not written";
    const std::string howFar =
        std::to_string(summary.read) + " of " + std::to_string(summary.records) + " data sets";
    switch (summary.end) {
        case acquisition::BatchEnd::NoCount:
            // A connection that failed says so; a wrong reply has been shown.
            return link.connectFailed() ? fail(link.connectError()) : kExitFailure;
        case acquisition::BatchEnd::Lost:
            return fail(link.connectError() + "; the readout stopped after " + howFar + " and " +
                        notWritten);
        case acquisition::BatchEnd::Cancelled:
            return fail("the readout was cancelled after " + howFar + " and " + notWritten);
        case acquisition::BatchEnd::Complete:
            break;
    }
    if (!written && !writeRows(*target, outPath(context), ui.rows, captions, error))
        return fail(error);
    // Data sets whose replies were wrong have been named; they are in the
    // output with empty or zero fields, as the window program keeps them.
    return ui.errors > 0 ? kExitFailure : kExitOk;
}

int runConvert(Context& context) {
    int status = kExitOk;
    const auto target = targetOf(context, status);
    if (!target)
        return status;

    const auto loaded = files::loadSampleFile(context.options.input);
    if (loaded.error == files::LoadError::IoError)
        return fail("cannot read " + loaded.detail);
    if (!loaded.ok())
        return fail(context.options.input + ": not a sample file: " + loaded.detail);
    std::string error;
    if (!writeRows(*target, outPath(context), loaded.rows, plainCaptions(), error))
        return fail(error);
    return kExitOk;
}

int runProgram(int argc, char* argv[], const std::string& programDirectory) {
    std::vector<std::string> arguments(argv, argv + argc);
    ParseResult parsed = parseCommandLine(arguments);
    if (parsed.kind == ParseResult::Kind::Text) {
        std::fputs(parsed.text.c_str(), stdout);
        return kExitOk;
    }
    if (parsed.kind == ParseResult::Kind::Usage) {
        message(parsed.text);
        std::fputs("Try 'tarvelo-cli --help'.\n", stderr);
        return kExitUsage;
    }

    Context context;
    context.options = std::move(parsed.options);
    // The settings file of the window program: beside the executable in the
    // build tree, in the user's configuration folder when installed.
    std::string settingsPath;
    if (context.options.settingsFile) {
        settingsPath = *context.options.settingsFile;
        if (::access(settingsPath.c_str(), R_OK) != 0) {
            message("--settings: cannot read " + settingsPath);
            return kExitUsage;
        }
    } else {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        const auto paths = app::resolveProgramPaths(
            {programDirectory, TARVELO_INSTALL_BINDIR, xdg ? xdg : "", home ? home : "", ""});
        settingsPath = paths.settingsDirectory + "/" + app::kSettingsFileName;
    }
    app::readStartupSettings(app::SettingsFile(settingsPath), context.settings);
    if (context.options.address)
        context.settings.setIpServer(*context.options.address);
    if (context.options.port)
        context.settings.port = *context.options.port;

    switch (context.options.command) {
        case Command::Shot:
            return runShot(context);
        case Command::Units:
            return runUnits(context);
        case Command::Record:
            return runRecord(context);
        case Command::Batch:
            return runBatch(context);
        case Command::Convert:
            return runConvert(context);
    }
    return kExitUsage;
}

}  // namespace tarvelo::cli
