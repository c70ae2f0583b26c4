#include "cli/commands.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
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
#include "common/atomic_file.h"
#include "cli/output.h"
#include "cli/publishing.h"
#include "cli/record_output.h"
#include "cli/run_lock.h"
#include "device/replies.h"
#include "files/csv_text.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "recording/recording_reader.h"
#include "recording/stretch.h"

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
    auto target = targetFor(context.options.out, context.options.format,
                            context.options.command == Command::Batch, error);
    if (!target) {
        message(error);
        status = kExitUsage;
    }
    return target;
}

std::string outPath(const Context& context) {
    const std::string out = context.options.out.value_or("");
    return out == "-" ? std::string() : out;
}

// Gives a finished `from` the name `to` and makes the new name last.
bool rename(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = "cannot rename " + from + " to " + to + ": " + std::strerror(errno);
        return false;
    }
    const int folder = ::open(common::folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// ---- signals --------------------------------------------------------------------

std::atomic<int>& stopSignal() {
    static std::atomic<int> signal{0};
    return signal;
}

extern "C" void onStopSignal(int signal) {
    int none = 0;
    stopSignal().compare_exchange_strong(none, signal);
    stopRequest().store(true);
}

// SIGINT (Ctrl+C), SIGTERM and SIGHUP (a closed terminal or SSH session) end
// a run the way its end does. Installed without SA_RESTART, so a
// signal also ends a receive that is waiting; once only, so that a second one
// ends the program at once should stopping the stream take long. A signal
// that was ignored when the program started (a background job's SIGINT, a
// run under nohup) stays ignored.
void catchStopSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(signal, &action, nullptr);
    }
}

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
    }
    return "signal " + std::to_string(signal);
}

// The exit status of a run that a signal ended: the shell's 128 + N.
int signalStatus() {
    return kExitSignalBase + stopSignal().load();
}

std::string count(uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "in run.csv", "on standard output".
std::string inOrOn(const std::string& name) {
    return (name == "standard output" ? "on " : "in ") + name;
}

// The format's size limit, 0 for none.
uint64_t limitOf(Target target) {
    return target == Target::SampleFile ? kSampleFileLimit
           : target == Target::Workbook ? kWorkbookLimit
                                        : 0;
}

std::string limitText(Target target) {
    return target == Target::SampleFile
               ? "a sample file holds at most " + std::to_string(kSampleFileLimit) + " samples"
               : "a workbook holds at most " + std::to_string(kWorkbookLimit) + " samples";
}

// A file's partial twin must not hold an earlier run's data.
bool partIsFree(const std::string& part, std::string& error) {
    if (::access(part.c_str(), F_OK) != 0)
        return true;
    error = part +
            " is already there: an earlier run that ended early left its data in it; move it "
            "away or delete it";
    return false;
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
    const Options& options = context.options;

    Link link(context);
    acquisition::SampleList captions;
    std::string error;
    if (!readCaptions(link, captions, error))
        return fail(error);

    // Polling: the units once, then one reading every interval, each on
    // standard output as it is taken.
    const uint64_t wanted = options.count.value_or(1);
    const bool polling = options.count.has_value();
    if (polling)
        catchStopSignals();
    LineOutput out;
    if (polling && isStdout(*target)) {
        std::string header = *target == Target::StdoutCsv ? files::csvHeaderLine(captions)
                                                          : files::exportHeaderLine(captions);
        if (*target == Target::Stdout)
            header.erase(header.size() - 2, 1);
        out.write(header);
    }
    std::vector<SampleRow> rows;
    auto next = std::chrono::steady_clock::now();
    for (uint64_t n = 1; wanted == 0 || n <= wanted; ++n) {
        if (stopRequest().load())
            break;
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
        if (polling && isStdout(*target)) {
            std::string line;
            if (*target == Target::StdoutCsv) {
                files::appendCsvLine(line, n, row);
            } else {
                files::appendExportLine(line, n, row, '.');
                line.erase(line.size() - 2, 1);
            }
            if (!out.write(line, 1) || !out.flush(error))
                return fail(error.empty() ? out.error() : error);
        } else {
            rows.push_back(row);
        }
        if (wanted != 0 && n == wanted)
            break;
        // Until the next reading is due; a signal ends the wait at once.
        next += options.interval;
        while (!stopRequest().load() && std::chrono::steady_clock::now() < next)
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                next - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
    }
    if (!(polling && isStdout(*target)) &&
        !writeRows(*target, outPath(context), rows, captions, error))
        return fail(error);
    if (stopRequest().load())
        return signalStatus();
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
    plan.stallLimit = options.stall;
    plan.retry = options.retry;
    plan.timing = context.timing;
    if (plan.port > 65533) {
        message("the stream port " + std::to_string(plan.port) + " + 2 is above 65535");
        return kExitUsage;
    }

    // The samples the run asks for (0: no end). By device time, one record
    // per millisecond: the samples whose time lies before the first's + S.
    const auto perSample = static_cast<uint64_t>(app::recordsPerSample(plan.sampleRate));
    uint64_t asked = options.samples;
    if (options.seconds) {
        const auto ms = static_cast<uint64_t>(plan.duration.count());
        const uint64_t bySeconds = (ms + perSample - 1) / perSample;
        asked = asked > 0 ? std::min(asked, bySeconds) : bySeconds;
    }
    const uint64_t limit = limitOf(*target);
    const auto splitMs = static_cast<uint64_t>(options.split.count());
    if (limit > 0 && splitMs > 0 && (splitMs + perSample - 1) / perSample > limit) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g s", static_cast<double>(splitMs) / 1000.0);
        message(limitText(*target) + "; a file of --split " + seconds + " would hold up to " +
                std::to_string((splitMs + perSample - 1) / perSample));
        return kExitUsage;
    }
    if (limit > 0 && splitMs == 0 && asked > limit) {
        message(limitText(*target) + "; this run would give " + std::to_string(asked) +
                " (use .asc or .csv)");
        return kExitUsage;
    }
    // A run without an end, or one the instrument makes longer, stops at the
    // limit and keeps what fits.
    if (limit > 0 && splitMs == 0)
        plan.samples = plan.samples > 0 ? std::min<uint64_t>(plan.samples, limit) : limit;

    const std::string path = isStdout(*target) ? std::string() : outPath(context);
    const std::string first = splitMs > 0 ? RecordOutput::splitName(path, 1) : path;
    std::string error;
    if (!path.empty() && !writtenInPlace(first) && !partIsFree(first + ".part", error))
        return fail(error);

    // Two recordings from one instrument would stop each other's stream.
    InstrumentLock lock;
    if (!lock.acquire(plan.address, plan.port, error))
        return fail(error);

    Link link(context);
    acquisition::SampleList captions;
    std::array<std::string, 4> units;
    if (!readCaptions(link, captions, error, &units))
        return fail(error);

    // The broker first: a refused broker ends the run before any file is made.
    Publishing publishing;
    if (options.publish && !publishing.start(context, captions, units, error, status)) {
        message(error);
        return status;
    }
    RecordOutput output(*target, plan, options.split.count());
    if (toOutput && !output.open(path, captions, error))
        return fail(error);
    FanOutSink sink;
    sink.add(toOutput ? &output : nullptr);
    sink.add(publishing.sink());

    catchStopSignals();
    const auto result = acquisition::recordStream(plan, sink, stopRequest());

    using acquisition::RecordingEnd;
    RunEnd end = RunEnd::Partial;
    switch (result.end) {
        case RecordingEnd::Completed:
        case RecordingEnd::Stopped:
            end = RunEnd::Complete;
            break;
        case RecordingEnd::ConnectFailed:
        case RecordingEnd::StartFailed:
            end = RunEnd::Nothing;
            break;
        case RecordingEnd::StreamClosed:
        case RecordingEnd::StreamStalled:
        case RecordingEnd::SinkFailed:
            end = RunEnd::Partial;
            break;
    }
    const bool finished = !toOutput || output.finish(end, error);
    // One line: why the run ended, what is left and where.
    std::string cause = result.error;
    auto add = [&cause](const std::string& text) {
        if (!text.empty() && cause.find(text) == std::string::npos)
            cause += (cause.empty() ? "" : "; ") + text;
    };
    if (result.end == RecordingEnd::SinkFailed)
        add(output.error());
    if (!finished)
        add(error);
    // Every sample acknowledged by the broker, or the run fails.
    const bool published = publishing.finish(result.end);
    std::string samples = count(toOutput ? output.kept() : result.samples, "sample");
    const std::string& kept = output.keptName();
    // Where the samples are, for the closing line.
    const auto where = [&](const std::string& name) {
        return toOutput ? inOrOn(name) : std::string("published");
    };
    if (output.completedFiles() > 0)
        samples = count(output.completedFiles(), "complete file") + " before, " + samples;
    if (end == RunEnd::Nothing)
        return fail(cause);
    if (end == RunEnd::Partial || !finished) {
        add(toOutput && kept.empty() ? std::string("the run ended early; nothing was recorded")
                         : "the run ended early; " + samples + " kept " + where(kept));
        return fail(cause);
    }
    if (result.end == RecordingEnd::Stopped) {
        const int signal = stopSignal().load();
        add("stopped by " + signalName(signal) + "; " + samples + " " + where(kept));
        message(cause);
        return signal != 0 && published ? signalStatus() : kExitFailure;
    }
    if (limit > 0 && result.samples == limit && asked != limit)
        add(limitText(*target) + ": the run was ended there; " + samples + " " + where(kept));
    if (!cause.empty())
        message(cause);
    return result.stopSent && published ? kExitOk : kExitFailure;
}

int runBatch(Context& context) {
    int status = kExitOk;
    const auto target = targetOf(context, status);
    if (!target)
        return status;

    // Written as FILE.part and renamed when the readout ends as asked (all
    // read, or a signal); a lost instrument leaves FILE.part.
    const std::string path = isStdout(*target) ? std::string() : outPath(context);
    const std::string part = path.empty() ? std::string() : path + ".part";
    std::string error;
    if (!part.empty() && !partIsFree(part, error))
        return fail(error);

    Link link(context);
    BatchMessages ui;
    acquisition::BatchSummary summary;
    acquisition::SampleList captions;
    if (*target != Target::BatchFile && !readCaptions(link, captions, error))
        return fail(error);

    // A signal cancels the readout once the exchange in progress is over.
    catchStopSignals();
    bool written = false;
    if (*target == Target::BatchFile) {
        // The data sets read whole are written however the readout ends.
        const auto result = acquisition::batchToFile(link.device(), part, ui, &error, &summary,
                                                     acquisition::EarlyEnd::WriteRecordsRead);
        if (result == acquisition::BatchFileResult::WriteFailed) {
            const auto colon = error.rfind(": ");
            return fail("cannot write " + path + ": " +
                        (colon == std::string::npos ? error : error.substr(colon + 2)) + "; " +
                        count(static_cast<uint64_t>(summary.read), "data set") +
                        " read were not written");
        }
        written = ::access(part.c_str(), F_OK) == 0;
    } else {
        acquisition::MeasurementMemory scratch;
        acquisition::batchToMemory(link.device(), scratch, ui, &summary);
    }
    ui.progressFinish();

    const bool complete = summary.end == acquisition::BatchEnd::Complete;
    const bool cancelled = summary.end == acquisition::BatchEnd::Cancelled;
    if (summary.end == acquisition::BatchEnd::NoCount && !cancelled) {
        // A connection that failed says so; a wrong reply has been shown.
        return link.connectFailed() ? fail(link.connectError()) : kExitFailure;
    }
    // Whatever was read is written: under the name asked for when the
    // readout ended as asked, as FILE.part when the instrument was lost.
    const bool asAsked = complete || cancelled;
    const std::string name = path.empty() ? std::string("standard output") : asAsked ? path : part;
    if (*target != Target::BatchFile && (!ui.rows.empty() || complete)) {
        const std::string to = path.empty() ? path : asAsked ? path : part;
        written = writeRows(*target, path.empty() ? path : part, ui.rows, captions, error);
        if (!written) {
            // Named as asked for, not by the partial twin it went to.
            if (!path.empty())
                error.replace(error.find(part), part.size(), to);
            return fail(error + "; " + count(ui.rows.size(), "data set") + " read were not written");
        }
    }
    if (written && asAsked && !path.empty() && !rename(part, path, error))
        return fail(error);

    const std::string howFar =
        std::to_string(summary.read) + " of " + std::to_string(summary.records) + " data sets";
    const std::string where = written ? "; they are " + inOrOn(name) : "; nothing was written";
    if (summary.end == acquisition::BatchEnd::Lost)
        return fail(link.connectError() + "; the readout stopped after " + howFar + where);
    if (cancelled) {
        message("the readout was stopped by " + signalName(stopSignal().load()) + " after " +
                howFar + where);
        return stopSignal().load() != 0 ? signalStatus() : kExitFailure;
    }
    // Data sets whose replies were wrong have been named; they are in the
    // output with empty or zero fields, as the window program keeps them.
    return ui.errors > 0 ? kExitFailure : kExitOk;
}

namespace {

// Whether `path` is meant as a sample file: named ".dat", or beginning as
// one does; a file that cannot be read counts as one, so that its reading
// names the reason.
bool looksLikeSampleFile(const std::string& path) {
    if (path.size() >= 4 && ::strcasecmp(path.c_str() + path.size() - 4, ".dat") == 0)
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    char head[files::kSampleFileMagic.size()] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n < 0 || std::string_view(head, static_cast<std::size_t>(n)) == files::kSampleFileMagic;
}

// A recording either program wrote (.asc or .csv, finished or .part), read
// whole and written as the target asks, with the recording's captions.
int convertRecording(const Context& context, Target target) {
    const std::string& input = context.options.input;
    auto outcome = recording::readRecording(input);
    if (!outcome.recording)
        return fail(input + ": neither a sample file nor a recording: " + outcome.error);
    const recording::Recording& run = *outcome.recording;
    const std::string path = outPath(context);
    const uint64_t limit = limitOf(target);
    if (limit != 0 && run.size() > limit)
        return fail(limitText(target) + ", " + input + " holds " + std::to_string(run.size()) +
                    "; " + path + " was not written");

    const auto format = recording::stretchFormatFor(path);
    if (target == Target::SampleFile || isStdout(target) || !format) {
        acquisition::SampleList captions;
        for (int column = 1; column <= 5; ++column)
            captions.setCaption(column, run.captions()[static_cast<std::size_t>(column - 1)]);
        const auto stretch = recording::stretchToMemory(run, 0, run.size(), run.size());
        std::string error;
        if (!writeRows(target, path, stretch.rows, captions, error))
            return fail(error);
        return kExitOk;
    }
    // Written as it is formatted, however long the recording.
    const auto written = recording::exportStretch(run, 0, run.size(), *format, path, '.');
    if (written.result != recording::StretchExport::Result::Written)
        return fail("cannot write " + path + ": " +
                    (written.errorNumber != 0 ? std::string(std::strerror(written.errorNumber))
                                              : written.error));
    return kExitOk;
}

}  // namespace

int runConvert(Context& context) {
    int status = kExitOk;
    const auto target = targetOf(context, status);
    if (!target)
        return status;
    if (!looksLikeSampleFile(context.options.input))
        return convertRecording(context, *target);

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
            {programDirectory, TARVELO_INSTALL_BINDIR, xdg ? xdg : "", home ? home : "", "", ""});
        settingsPath = paths.settingsDirectory + "/" + app::kSettingsFileName;
    }
    app::readStartupSettings(app::SettingsFile(settingsPath), context.settings);
    if (context.options.address)
        context.settings.setIpServer(*context.options.address);
    if (context.options.port)
        context.settings.port = *context.options.port;
    if (context.options.connectTimeout)
        context.timing.connectTimeout = *context.options.connectTimeout;

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
