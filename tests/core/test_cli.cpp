// The command-line program, run as a child process against the simulated
// instrument over loopback, with real files in a temporary folder. Every run
// names 127.0.0.1 (by --address or by a settings file).
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/batch_readout.h"
#include "acquisition/measurement_memory.h"
#include "app/settings.h"
#include "common/numbers.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "files/csv_text.h"
#include "files/sample_file.h"
#include "fixtures.h"
#include "sim/instrument.h"
#include "support.h"

extern char** environ;

using namespace tarvelo;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    int status = -1;  // exit status, or -1 when killed
    int signal = 0;   // the signal that killed it
    std::string out;
    std::string err;
};

// The program with `arguments`, its output and errors caught in files.
class Child {
public:
    // `program` runs instead of the command-line program when given (its
    // arguments then name it first); `outName` is the file of its output.
    Child(const test::TempDir& dir, const std::vector<std::string>& arguments,
          bool program = false, const std::string& outName = "stdout")
        : outPath_(dir.file(outName)), errPath_(dir.file(outName + ".err")) {
        std::vector<std::string> all;
        if (!program)
            all.emplace_back(TARVELO_CLI_BINARY);
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    pid_t pid() const { return pid_; }
    Outcome wait() {
        Outcome run;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        run.out = test::readFile(outPath_);
        run.err = test::readFile(errPath_);
        return run;
    }

private:
    std::string outPath_, errPath_;
    pid_t pid_ = -1;
};

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

template <typename Condition>
bool waitFor(Condition condition, std::chrono::seconds limit = 20s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::vector<std::string> lines(const std::string& text, const std::string& end = "\n") {
    std::vector<std::string> result;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(end, from)) != std::string::npos; from = at + end.size())
        result.push_back(text.substr(from, at - from));
    EXPECT_EQ(from, text.size()) << "the last line lacks its end";
    return result;
}

std::vector<std::string> fields(const std::string& line, char separator) {
    std::vector<std::string> result;
    std::size_t from = 0;
    for (std::size_t at; (at = line.find(separator, from)) != std::string::npos; from = at + 1)
        result.push_back(line.substr(from, at - from));
    result.push_back(line.substr(from));
    return result;
}

const std::string kCaptions =
    "\tTime\tChannel 1 (N)\tChannel 2 (mm)\tChannel 3 (N.C.)\tChannel 4 (\xC2\xB0"
    "C)";

class CliTest : public ::testing::Test {
protected:
    void startInstrument(sim::InstrumentConfig config = {}) {
        instrument = std::make_unique<sim::Instrument>(std::move(config));
        ASSERT_TRUE(instrument->start());
    }
    std::vector<std::string> at(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(),
                         {"--address", "127.0.0.1", "--port",
                          std::to_string(instrument ? instrument->commandPort() : 1)});
        return arguments;
    }
    Outcome run(const std::vector<std::string>& arguments) { return Child(dir, arguments).wait(); }

    std::unique_ptr<sim::Instrument> instrument;
    test::TempDir dir;
};

TEST_F(CliTest, ShotAndUnitsFollowTheSettingsFileButPrintEnglishWithADecimalPoint) {
    startInstrument();
    // German and a decimal comma in the settings and the regional format
    // change nothing in what scripts read.
    const std::string settings = dir.file("473config.ini");
    test::writeFile(settings, "[Config]\r\nIP-Server=127.0.0.1\r\nPort=" +
                                  std::to_string(instrument->commandPort()) +
                                  "\r\nLanguage=0\r\nSampleRate=6\r\n");
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    const Outcome shot = run({"--settings", settings, "shot"});
    const Outcome units = run({"--settings", settings, "units"});
    ::unsetenv("LC_ALL");

    ASSERT_EQ(shot.status, 0) << shot.err;
    const auto shotLines = lines(shot.out);
    ASSERT_EQ(shotLines.size(), 2u);
    EXPECT_EQ(shotLines[0], kCaptions);
    const auto data = fields(shotLines[1], '\t');
    ASSERT_EQ(data.size(), 7u);  // number, time, four values, empty after the last tab
    EXPECT_EQ(data[0], "1");
    EXPECT_EQ(data[4], "0.00000");  // channel 3 not connected
    for (int c : {2, 3, 5})
        EXPECT_NE(data[c].find('.'), std::string::npos) << data[c];
    EXPECT_EQ(data[6], "");

    ASSERT_EQ(units.status, 0) << units.err;
    EXPECT_EQ(units.out,
              "Channel 1 (N)\nChannel 2 (mm)\nChannel 3 (N.C.)\nChannel 4 (\xC2\xB0"
              "C)\n");
    EXPECT_EQ(shot.err + units.err, "");
}

TEST_F(CliTest, RecordAveragesTheStreamAndStopsIt) {
    sim::InstrumentConfig config;
    config.recordsPerSecond = 0;  // as fast as the connection takes them
    startInstrument(config);

    // 30 samples at index 6: each the mean of 100 consecutive records.
    const Outcome averaged = run(at({"record", "--samples", "30", "--rate", "6"}));
    ASSERT_EQ(averaged.status, 0) << averaged.err;
    const auto out = lines(averaged.out);
    ASSERT_EQ(out.size(), 31u);
    EXPECT_EQ(out[0], kCaptions);
    for (int s = 0; s < 30; ++s) {
        const auto data = fields(out[static_cast<std::size_t>(s) + 1], '\t');
        ASSERT_EQ(data.size(), 7u);
        EXPECT_EQ(data[0], std::to_string(s + 1));
        for (int c = 1; c <= 4; ++c) {
            double sum = 0;
            for (int r = 0; r < 100; ++r)
                sum += sim::Instrument::recordValue(static_cast<uint64_t>(s) * 100 + r, c);
            EXPECT_EQ(data[static_cast<std::size_t>(c) + 1], common::formatValue(sum / 100, '.'))
                << "sample " << s + 1 << " channel " << c;
        }
    }
    // The simulator's sender stops a moment after it answered "#L02".
    EXPECT_TRUE(waitFor([&] { return !instrument->streaming(); }));
    const auto log = instrument->commandLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), "#L01"), 1);
    EXPECT_EQ(log.back(), "#L02");

    // A run beyond the memory's 10240 samples, as CSV: every record a sample.
    const std::string csv = dir.file("long.csv");
    const Outcome longRun = run(at({"record", "--samples", "12000", "--rate", "0", "--out", csv}));
    ASSERT_EQ(longRun.status, 0) << longRun.err;
    EXPECT_EQ(longRun.out, "");
    const auto rows = lines(test::readFile(csv), "\r\n");
    ASSERT_EQ(rows.size(), 12001u);
    EXPECT_EQ(rows[0],
              "Number,Time,Channel 1 (N),Channel 2 (mm),Channel 3 (N.C.),"
              "Channel 4 (\xC2\xB0"
              "C)");
    // Records go on from where the first run's stream stopped; consecutive
    // samples are consecutive records.
    const auto first = fields(rows[1], ',');
    const auto last = fields(rows[12000], ',');
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(last[0], "12000");
    EXPECT_EQ(std::stod(last[2]) - std::stod(first[2]), 0.25 * 11999);
    EXPECT_EQ(first[1].size(), 23u) << first[1];  // yyyy-mm-ddThh:mm:ss.mmm
    EXPECT_EQ(first[1][10], 'T');

    // More than a sample file holds: refused before anything starts.
    const std::string dat = dir.file("run.dat");
    const Outcome refused = run(at({"record", "--samples", "10241", "--out", dat}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("at most 10240"), std::string::npos) << refused.err;
    EXPECT_NE(::access(dat.c_str(), F_OK), 0);
}

TEST_F(CliTest, BatchWritesWhatTheWindowProgramWrites) {
    startInstrument(test::threeBatchRecords());
    const std::string txt = dir.file("batch.txt");
    const Outcome batchFile = run(at({"batch", "--out", txt}));
    ASSERT_EQ(batchFile.status, 0) << batchFile.err;

    // The window program's readout of the same memory, in this process.
    app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = instrument->commandPort();
    std::atomic<int32_t> timeoutMs{static_cast<int32_t>(test::kNotReached.count())};
    device::DeviceLink link(settings, timeoutMs, nullptr, {1ms});
    struct : acquisition::BatchUi {
        void error(const char*) override {}
        void rowAppended(const acquisition::SampleRow&) override {}
    } ui;
    const std::string reference = dir.file("reference.txt");
    ASSERT_EQ(acquisition::batchToFile(link, reference, ui), acquisition::BatchFileResult::Written);
    EXPECT_EQ(test::readFile(txt), test::readFile(reference));

    const Outcome list = run(at({"batch"}));
    ASSERT_EQ(list.status, 0) << list.err;
    const auto out = lines(list.out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], "1\t14.11.2023 22.13.20.123\t12.50000\t-0.00300\t0.00000\t1000.00000\t");
}

TEST_F(CliTest, ConvertWritesEveryFormatAndRejectsBrokenFiles) {
    acquisition::MeasurementMemory memory;
    memory.AppendSample(test::makeRow(1.5, 2.5, 0, 4.5, 999));
    memory.AppendSample(test::makeRow(-1, 0.125, 3, 4, 1700000000123));
    const std::string dat = dir.file("in.dat");
    ASSERT_TRUE(files::saveSampleFile(dat, memory));

    const Outcome csv = run({"convert", dat, "--out", dir.file("out.csv")});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(test::readFile(dir.file("out.csv")),
              "Number,Time,Channel 1,Channel 2,Channel 3,Channel 4\r\n"
              "1,1970-01-01T00:00:00.999,1.50000,2.50000,0.00000,4.50000\r\n"
              "2,2023-11-14T22:13:20.123,-1.00000,0.12500,3.00000,4.00000\r\n");
    EXPECT_EQ(files::csvField("a,\"b\""), "\"a,\"\"b\"\"\"");

    const Outcome asc = run({"convert", dat, "--out", dir.file("out.asc")});
    ASSERT_EQ(asc.status, 0) << asc.err;
    EXPECT_EQ(test::readFile(dir.file("out.asc")),
              "\tTime\tChannel 1\tChannel 2\tChannel 3\tChannel 4\r\n"
              "1\t01.01.1970 00.00.00.999\t1.50000\t2.50000\t0.00000\t4.50000\t\r\n"
              "2\t14.11.2023 22.13.20.123\t-1.00000\t0.12500\t3.00000\t4.00000\t\r\n");

    const Outcome again = run({"convert", dat, "--out", dir.file("copy.DAT")});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(test::readFile(dir.file("copy.DAT")), test::readFile(dat));
    const Outcome workbook = run({"convert", dat, "--out", dir.file("out.xlsx")});
    ASSERT_EQ(workbook.status, 0) << workbook.err;
    EXPECT_EQ(test::readFile(dir.file("out.xlsx")).substr(0, 2), "PK");

    // A recording (here the CSV just written) converts as the sample file did.
    for (const char* name : {"back.asc", "back.dat", "back.xlsx"}) {
        const Outcome back = run({"convert", dir.file("out.csv"), "--out", dir.file(name)});
        ASSERT_EQ(back.status, 0) << name << ": " << back.err;
    }
    EXPECT_EQ(test::readFile(dir.file("back.asc")), test::readFile(dir.file("out.asc")));
    EXPECT_EQ(test::readFile(dir.file("back.dat")), test::readFile(dat));
    EXPECT_EQ(test::readFile(dir.file("back.xlsx")).substr(0, 2), "PK");
    {
        std::string text = "Number,Time,Channel 1,Channel 2,Channel 3,Channel 4\r\n";
        for (int i = 1; i <= 10241; ++i)
            files::appendCsvLine(text, static_cast<uint64_t>(i), test::makeRow(i, 0, 0, 0, 1000.0 * i));
        test::writeFile(dir.file("long.csv"), text);
    }
    test::writeFile(dir.file("notes.csv"), "a,b\r\n");

    // Broken input: each with its cause, exit 1, nothing written.
    const std::string bytes = test::readFile(dat);
    test::writeFile(dir.file("magic.dat"), "473.101" + bytes.substr(7));
    test::writeFile(dir.file("short.dat"), bytes.substr(0, bytes.size() - 1));
    const struct {
        std::string input, cause;
    } broken[] = {{dir.file("magic.dat"), "not a sample file: bad magic"},
                  {dir.file("short.dat"), "fewer rows than its count of 2"},
                  {dir.file("missing.dat"), "No such file or directory"},
                  {dir.file("notes.csv"), "neither a sample file nor a recording"},
                  {dir.file("long.csv"), "a sample file holds at most 10240 samples"}};
    for (const auto& [input, cause] : broken) {
        const Outcome rejected = run({"convert", input, "--out", dir.file("never.dat")});
        EXPECT_EQ(rejected.status, 1) << input;
        EXPECT_NE(rejected.err.find(cause), std::string::npos) << rejected.err;
        EXPECT_EQ(rejected.out, "");
    }
    EXPECT_NE(::access(dir.file("never.dat").c_str(), F_OK), 0);
}

TEST_F(CliTest, FailuresNameTheirCauseAndExitCode) {
    startInstrument();
    const std::string port = std::to_string(instrument->commandPort());
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string cause;
    } usage[] = {
        {{"--address", "127.0.0.1", "record", "--samples", "5", "--rate", "13"}, 2, "0 to 12"},
        {{"--address", "127.0.0.1", "record", "--seconds", "0.0004"}, 2, "rounds to 0 ms"},
        {{"--address", "127.0.0.1", "record", "--seconds", "1", "--format", "csv", "--out", "x.asc"},
         2,
         "follows its extension"},
        {{"--address", "127.0.0.1", "shot", "--out", "x.pdf"}, 2, "unknown extension"},
        {{"--address", "127.0.0.1", "record", "--seconds", "1", "--out", "x.txt"},
         2,
         "unknown extension"},
        {{"--address", "127.0.0.1", "measure"}, 2, "unknown command"},
        {{"--address", "localhost", "shot"}, 2, "dotted-decimal"},
        {{"--address", "127.0.0.1", "--port", "70000", "shot"}, 2, "1 to 65535"},
    };
    for (const auto& [arguments, status, cause] : usage) {
        const Outcome failed = run(arguments);
        EXPECT_EQ(failed.status, status) << arguments.back();
        EXPECT_NE(failed.err.find(cause), std::string::npos) << failed.err;
    }

    instrument->overrideReply("#X00", "#X01 1|2|3|4|5|");
    const Outcome wrongEcho = run(at({"shot"}));
    EXPECT_EQ(wrongEcho.status, 1);
    EXPECT_NE(wrongEcho.err.find("reply to #X00 without the expected echo"), std::string::npos)
        << wrongEcho.err;
    EXPECT_EQ(wrongEcho.out, "");
    instrument->setCommandFault(sim::CommandFault::WrongEcho);
    const Outcome wrongUnits = run(at({"units"}));
    EXPECT_EQ(wrongUnits.status, 1);
    EXPECT_NE(wrongUnits.err.find("unit queries (#Z00, #Z75) without the expected echo"),
              std::string::npos)
        << wrongUnits.err;
    EXPECT_EQ(wrongUnits.out, "");

    // A stream that never sends: the run fails, and the stream is still stopped.
    instrument->setCommandFault(sim::CommandFault::None);
    instrument->clearReplyOverrides();
    instrument->setStreamFault(sim::StreamFault::Stall);
    const Outcome stalled = run(
        at({"record", "--seconds", "0.5", "--stall", "0.3", "--retry", "0", "--out",
            dir.file("quiet.csv")}));
    EXPECT_EQ(stalled.status, 1);
    EXPECT_NE(stalled.err.find("no data on the stream of 127.0.0.1:"), std::string::npos)
        << stalled.err;
    EXPECT_NE(stalled.err.find("for 0.3 s; the run ended early; nothing was recorded"),
              std::string::npos)
        << stalled.err;
    EXPECT_EQ(instrument->commandLog().back(), "#L02");

    instrument->setCommandFault(sim::CommandFault::RefuseConnections);
    for (const char* command : {"shot", "units", "batch"}) {
        const Outcome refused = run(at({command}));
        EXPECT_EQ(refused.status, 1) << command;
        EXPECT_NE(refused.err.find("connection refused by 127.0.0.1:" + port), std::string::npos)
            << refused.err;
    }
    const Outcome noRecording = run(at({"record", "--samples", "3", "--out", dir.file("no.csv")}));
    EXPECT_EQ(noRecording.status, 1);
    EXPECT_NE(noRecording.err.find("connection refused by 127.0.0.1:"), std::string::npos)
        << noRecording.err;
    EXPECT_NE(::access(dir.file("no.csv").c_str(), F_OK), 0);
}

// ---- the fault matrix ----------------------------------------------------------

// Where a recording goes, and the faults it meets.
enum class Out { Csv, Asc, Stdout, Dat, Xlsx };
enum class Fault { DiskFull, ReadOnly, Sigint, Sigterm, Sighup, Kill, Vanish, Hang, Limit };

const char* nameOf(Out out) {
    static const char* const names[] = {"csv", "asc", "stdout", "dat", "xlsx"};
    return names[static_cast<int>(out)];
}
const char* nameOf(Fault fault) {
    static const char* const names[] = {"disk full", "read-only folder", "SIGINT", "SIGTERM",
                                        "SIGHUP",    "kill -9",          "vanishes", "hangs",
                                        "limit"};
    return names[static_cast<int>(fault)];
}

// The samples in a recording's output: sample k (1, 2, ...) must be record
// k - 1 of the simulator's exact stream (every record a sample at rate 0),
// numbered without a gap. A line cut by kill -9 at the very end is allowed
// when `cutLast`. Returns the samples found.
uint64_t checkSamples(Out out, const std::string& path, bool cutLast, const std::string& what) {
    if (out == Out::Dat) {
        const auto loaded = files::loadSampleFile(path);
        EXPECT_TRUE(loaded.ok()) << what << ": " << loaded.detail;
        for (std::size_t k = 0; k < loaded.rows.size(); ++k)
            for (int c = 0; c < 4; ++c)
                if (loaded.rows[k].channel[c] != sim::Instrument::recordValue(k, c + 1)) {
                    ADD_FAILURE() << what << ": sample " << k + 1 << " channel " << c + 1;
                    return k;
                }
        return loaded.rows.size();
    }
    const std::string bytes = test::readFile(path);
    const bool csv = out == Out::Csv;
    const std::string end = out == Out::Stdout ? "\n" : "\r\n";
    const char separator = csv ? ',' : '\t';
    std::size_t from = bytes.find(end);  // after the header line
    EXPECT_NE(from, std::string::npos) << what << ": no header line";
    if (from == std::string::npos)
        return 0;
    from += end.size();
    uint64_t k = 0;
    for (std::size_t at; (at = bytes.find(end, from)) != std::string::npos; from = at + end.size()) {
        const auto data = fields(bytes.substr(from, at - from), separator);
        ++k;
        bool right = data.size() >= 6 && data[0] == std::to_string(k);
        for (int c = 1; right && c <= 4; ++c)
            right = data[static_cast<std::size_t>(c) + 1] ==
                    common::formatValue(sim::Instrument::recordValue(k - 1, c), '.');
        if (!right) {
            ADD_FAILURE() << what << ": line of sample " << k << ": " << bytes.substr(from, at - from);
            return k - 1;
        }
    }
    if (from != bytes.size()) {
        EXPECT_TRUE(cutLast) << what << ": the last line lacks its end";
    }
    return k;
}

// Whether this process may mount a small file system for the cli in a
// mount namespace of its own (root, as in CI). (Not by system(), which
// ignores SIGINT for a moment, and children started meanwhile would keep
// ignoring it.)
bool canMount(const test::TempDir& dir) {
    return ::geteuid() == 0 && Child(dir, {"unshare", "-m", "true"}, true, "probe").wait().status == 0;
}

// Runs the cli in a mount namespace of its own with a 64 KiB file system on
// `folder` (read-only, or filled up) and copies what it left there to `copy`
// before the namespace ends.
std::vector<std::string> inSmallFileSystem(const std::string& folder, const std::string& copy,
                                           const std::string& mode, bool toStdout,
                                           const std::vector<std::string>& arguments) {
    std::vector<std::string> all{
        "unshare", "-m", "sh", "-c",
        "folder=$1 copy=$2 mode=$3 out=$4; shift 4\n"
        "mount -t tmpfs -o size=64k,mode=0755 tmpfs \"$folder\" || exit 99\n"
        "if [ \"$mode\" = filled ]; then head -c 70000 /dev/zero > \"$folder/filler\" 2>/dev/null; fi\n"
        "if [ \"$mode\" = ro ]; then mount -o remount,ro \"$folder\" || exit 99; fi\n"
        "if [ \"$out\" = stdout ]; then \"$@\" > \"$folder/stdout\"; else \"$@\"; fi\n"
        "status=$?\n"
        "rm -f \"$folder/filler\"; cp -a \"$folder\"/. \"$copy\"/\n"
        "exit $status\n",
        "sh", folder, copy, mode, toStdout ? "stdout" : "file", TARVELO_CLI_BINARY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

// The simulator as a process of its own, so that it can be stopped (SIGSTOP)
// like an instrument that hangs.
class SimProcess {
public:
    explicit SimProcess(const test::TempDir& dir)
        : child_(dir,
                 {TARVELO_SIM_BINARY, "--port", "0", "--stream", "exact", "--rate", "1000"}, true,
                 "sim") {
        const std::string out = dir.file("sim");
        waitFor([&] { return test::readFile(out).find('\n') != std::string::npos; });
        const std::string line = test::readFile(out);
        const auto at = line.find("command port ");
        if (at != std::string::npos)
            port_ = std::stoi(line.substr(at + 13));
    }
    ~SimProcess() {
        ::kill(child_.pid(), SIGCONT);
        ::kill(child_.pid(), SIGTERM);
        child_.wait();
    }
    pid_t pid() const { return child_.pid(); }
    int port() const { return port_; }

private:
    Child child_;
    int port_ = 0;
};

TEST_F(CliTest, FaultMatrixKeepsEverySampleAndTellsAnEarlyEnd) {
    struct Cell {
        Out out;
        Fault fault;
    };
    std::vector<Cell> cells;
    for (Out out : {Out::Csv, Out::Asc, Out::Stdout})
        for (Fault fault : {Fault::DiskFull, Fault::ReadOnly, Fault::Sigint, Fault::Sigterm,
                            Fault::Sighup, Fault::Kill, Fault::Vanish, Fault::Hang})
            if (!(out == Out::Stdout && fault == Fault::ReadOnly))  // nothing is created
                cells.push_back({out, fault});
    for (Out out : {Out::Dat, Out::Xlsx})
        for (Fault fault : {Fault::DiskFull, Fault::Sigint, Fault::Vanish, Fault::Limit})
            cells.push_back({out, fault});

    constexpr uint64_t kDropAfter = 2500;
    const bool mountable = canMount(dir);
    // Each cell on an instrument and in a folder of its own; four at a time,
    // as most of a cell is waiting for replies.
    auto runCell = [&](const Cell& cell) {
        const auto [out, fault] = cell;
        std::unique_ptr<sim::Instrument> instrument;
        const std::string what = std::string(nameOf(out)) + " x " + nameOf(fault);
        SCOPED_TRACE(what);
        const bool mounted = fault == Fault::DiskFull || fault == Fault::ReadOnly;
        if (mounted && !mountable) {
            std::printf("skipped %s: needs root to mount a small file system\n", what.c_str());
            return;
        }
        test::TempDir cellDir;
        const std::string folder = cellDir.file("out");
        const std::string copy = cellDir.file("copy");
        std::filesystem::create_directory(folder);
        std::filesystem::create_directory(copy);
        const std::string name = std::string("run.") + nameOf(out);
        const std::string file = out == Out::Stdout ? "" : folder + "/" + name;

        sim::InstrumentConfig config;
        config.recordsPerSecond =
            mounted || fault == Fault::Limit || fault == Fault::Vanish ? 0 : 1000;
        if (fault == Fault::Vanish)
            config.dropAfterRecords = kDropAfter;
        std::unique_ptr<SimProcess> simProcess;
        std::vector<std::string> arguments{"--address", "127.0.0.1", "--port"};
        if (fault == Fault::Hang) {
            simProcess = std::make_unique<SimProcess>(cellDir);
            ASSERT_GT(simProcess->port(), 0);
            arguments.push_back(std::to_string(simProcess->port()));
        } else {
            instrument = std::make_unique<sim::Instrument>(config);
            ASSERT_TRUE(instrument->start());
            arguments.push_back(std::to_string(instrument->commandPort()));
        }
        arguments.insert(arguments.end(),
                         {"record", "--rate", "0", "--stall", "0.5", "--retry", "0"});
        if (out != Out::Stdout)
            arguments.insert(arguments.end(), {"--out", file});
        if (fault == Fault::Limit && out == Out::Xlsx) {
            // A run that cannot fit is refused before anything is read.
            arguments.insert(arguments.end(), {"--samples", "1048576"});
            const Outcome refused = Child(cellDir, arguments).wait();
            EXPECT_EQ(refused.status, 2);
            EXPECT_NE(refused.err.find("a workbook holds at most 1048575 samples"),
                      std::string::npos)
                << refused.err;
            EXPECT_TRUE(std::filesystem::is_empty(folder));
            EXPECT_TRUE(instrument->commandLog().empty());
            return;
        }

        // The output while the run goes on, and where it is at the end.
        const std::string growing = out == Out::Stdout ? cellDir.file("stdout") : file + ".part";
        std::unique_ptr<Child> child;
        if (mounted)
            child = std::make_unique<Child>(
                cellDir,
                inSmallFileSystem(folder, copy, fault == Fault::ReadOnly ? "ro" : "full",
                                  out == Out::Stdout, arguments),
                true);
        else
            child = std::make_unique<Child>(cellDir, arguments);
        ASSERT_GT(child->pid(), 0);

        // A run under way: samples on disk.
        auto onDisk = [&] { return test::readFile(growing).size() > 20000; };
        const int signal = fault == Fault::Sigint    ? SIGINT
                           : fault == Fault::Sigterm ? SIGTERM
                           : fault == Fault::Sighup  ? SIGHUP
                           : fault == Fault::Kill    ? SIGKILL
                                                     : 0;
        if (signal != 0) {
            ASSERT_TRUE(waitFor(onDisk));
            ::kill(child->pid(), signal);
        }
        if (fault == Fault::Hang) {
            ASSERT_TRUE(waitFor(onDisk));
            ::kill(simProcess->pid(), SIGSTOP);
        }
        const Outcome run = child->wait();
        const std::string where = mounted ? copy : folder;

        // What is left, where, and what was said about it.
        std::string kept;
        if (fault == Fault::ReadOnly) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find(file + ".part: Read-only file system"), std::string::npos)
                << run.err;
            EXPECT_TRUE(std::filesystem::is_empty(copy));
            const auto log = instrument->commandLog();
            EXPECT_EQ(std::count(log.begin(), log.end(), "#L01"), 0) << "no run was started";
            return;
        }
        if (fault == Fault::Kill) {
            EXPECT_EQ(run.signal, SIGKILL);
            kept = growing;
        } else if (signal != 0 || fault == Fault::Limit) {
            EXPECT_EQ(run.status, signal != 0 ? 128 + signal : 0) << run.err;
            kept = out == Out::Stdout ? growing : file;
            if (out != Out::Stdout) {
                EXPECT_FALSE(exists(file + ".part"));
            }
        } else {
            EXPECT_EQ(run.status, 1) << run.err;
            kept = out == Out::Stdout ? (mounted ? copy + "/stdout" : growing)
                                      : where + "/" + name + ".part";
            if (out != Out::Stdout) {
                EXPECT_FALSE(exists(where + "/" + name)) << "a partial run under the final name";
            }
        }
        uint64_t samples = 0;
        if (out == Out::Xlsx && kept == file) {
            EXPECT_EQ(test::readFile(file).substr(0, 2), "PK");
            const auto at = run.err.find(" samples in " + file);
            ASSERT_NE(at, std::string::npos) << run.err;
            samples = std::stoull(run.err.substr(run.err.rfind(' ', at - 1) + 1));
        } else {
            samples = checkSamples(out == Out::Xlsx ? Out::Asc : out, kept, fault == Fault::Kill,
                                   what);
        }
        EXPECT_GT(samples, 0u);
        if (fault == Fault::Vanish) {
            EXPECT_EQ(samples, kDropAfter) << "every record sent reached the file";
        }
        if (fault == Fault::Limit) {
            EXPECT_EQ(samples, 10240u);
        }
        if (fault != Fault::Kill) {
            const bool partial = run.status == 1;
            const std::string keptName =
                out == Out::Stdout ? "on standard output"
                                   : "in " + (mounted ? file + ".part" : kept);
            EXPECT_NE(run.err.find(std::to_string(samples) + (partial ? " samples kept " : " samples ") +
                                   keptName),
                      std::string::npos)
                << run.err;
        }
        if (fault == Fault::DiskFull) {
            EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
        }
    };
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < cells.size();)
                runCell(cells[i]);
        });
    for (auto& worker : workers)
        worker.join();
}

// The batch readout against the faults a long one meets: every data set
// read is written, and the status and message tell an early end.
TEST_F(CliTest, FaultMatrixOfTheBatchReadout) {
    enum class BatchFault { Vanish, Hang, Cancel, DiskFull };
    const bool mountable = canMount(dir);
    constexpr int kRecords = 5;  // "#M01" answers 4
    auto runCell = [&](BatchFault fault) {
        static const char* const names[] = {"vanishes", "hangs", "Cancel (SIGINT)", "disk full"};
        const std::string what = std::string("batch x ") + names[static_cast<int>(fault)];
        SCOPED_TRACE(what);
        if (fault == BatchFault::DiskFull && !mountable) {
            std::printf("skipped %s: needs root to mount a small file system\n", what.c_str());
            return;
        }
        test::TempDir cellDir;
        const std::string folder = cellDir.file("out");
        const std::string copy = cellDir.file("copy");
        std::filesystem::create_directory(folder);
        std::filesystem::create_directory(copy);
        const std::string file = folder + "/batch.csv";

        sim::InstrumentConfig config;
        config.batchCount = kRecords;
        sim::Instrument instrument(config);
        ASSERT_TRUE(instrument.start());
        const std::vector<std::string> arguments{"--address", "127.0.0.1", "--port",
                                                 std::to_string(instrument.commandPort()),
                                                 "batch", "--out", file};
        Child child(cellDir, fault == BatchFault::DiskFull
                                 ? inSmallFileSystem(folder, copy, "filled", false, arguments)
                                 : arguments,
                    fault == BatchFault::DiskFull);
        ASSERT_GT(child.pid(), 0);
        if (fault != BatchFault::DiskFull) {
            // Two data sets read, the third under way.
            ASSERT_TRUE(waitFor([&] {
                const auto log = instrument.commandLog();
                return std::count(log.begin(), log.end(), device::batchTimeCommand(2)) > 0;
            }));
            if (fault == BatchFault::Vanish)
                instrument.setCommandFault(sim::CommandFault::RefuseConnections);
            if (fault == BatchFault::Hang)
                instrument.setCommandFault(sim::CommandFault::NoReply);
            if (fault == BatchFault::Cancel)
                ::kill(child.pid(), SIGINT);
        }
        const Outcome run = child.wait();

        if (fault == BatchFault::DiskFull) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("cannot write " + file + ": No space left on device"),
                      std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
            EXPECT_NE(run.err.find(std::to_string(kRecords) + " data sets read were not written"),
                      std::string::npos)
                << run.err;
            EXPECT_FALSE(exists(copy + "/batch.csv"));
            EXPECT_FALSE(exists(copy + "/batch.csv.part"));
            return;
        }
        EXPECT_EQ(run.status, fault == BatchFault::Cancel ? 128 + SIGINT : 1) << run.err;
        // Under the name asked for when the readout ended as asked (or went
        // on with the silent queries left empty), else as .part.
        const std::string kept = exists(file) ? file : file + ".part";
        if (fault != BatchFault::Hang) {
            EXPECT_EQ(kept, fault == BatchFault::Cancel ? file : file + ".part");
        }
        const auto rows = lines(test::readFile(kept), "\r\n");
        ASSERT_GE(rows.size(), 3u) << "the header and at least the two data sets read";
        const std::size_t read = rows.size() - 1;
        for (std::size_t k = 1; k <= std::min<std::size_t>(read, 2); ++k) {
            const auto data = fields(rows[k], ',');
            ASSERT_EQ(data.size(), 6u);
            EXPECT_EQ(data[0], std::to_string(k));
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(data[static_cast<std::size_t>(c) + 2],
                          common::formatValue(10.0 * (c + 1) + 2.5 + 0.25 * double(k - 1), '.'));
        }
        if (fault != BatchFault::Hang) {
            EXPECT_NE(run.err.find("after " + std::to_string(read) + " of " +
                                   std::to_string(kRecords) + " data sets; they are in " + kept),
                      std::string::npos)
                << run.err;
        }
    };
    std::vector<std::thread> cells;
    for (BatchFault fault :
         {BatchFault::Vanish, BatchFault::Hang, BatchFault::Cancel, BatchFault::DiskFull})
        cells.emplace_back(runCell, fault);
    for (auto& cell : cells)
        cell.join();
}

// Runs that keep going: an instrument restarted mid-run, a network drop,
// files that follow each other, a second recording, polling.
TEST_F(CliTest, FaultMatrixOfLongRuns) {
    enum class Cell { Restart, NetworkDrop, Split, SecondRecording, Polling };
    // The record indices of the samples in `path` (CSV, every record a
    // sample), found from channel 1 (1000 + 0.25 * index); numbered without a
    // gap.
    auto indices = [](const std::string& path, uint64_t firstNumber = 1) {
        std::vector<uint64_t> found;
        const auto rows = lines(test::readFile(path), "\r\n");
        for (std::size_t k = 1; k < rows.size(); ++k) {
            const auto data = fields(rows[k], ',');
            EXPECT_EQ(data[0], std::to_string(firstNumber + k - 1)) << path;
            const double value = std::stod(data[2]);
            const auto index = static_cast<uint64_t>(std::llround((value - 1000.0) / 0.25));
            for (int c = 1; c <= 4; ++c)
                EXPECT_EQ(data[static_cast<std::size_t>(c) + 1],
                          common::formatValue(sim::Instrument::recordValue(index, c), '.'));
            found.push_back(index);
        }
        return found;
    };
    auto consecutive = [](const std::vector<uint64_t>& found, std::size_t from, std::size_t to) {
        for (std::size_t i = from + 1; i < to; ++i)
            if (found[i] != found[i - 1] + 1)
                return false;
        return true;
    };

    auto runCell = [&](Cell cell) {
        static const char* const names[] = {"instrument restarted mid-run", "network drop",
                                            "split boundaries", "second recording", "polling"};
        SCOPED_TRACE(names[static_cast<int>(cell)]);
        test::TempDir cellDir;
        auto instrument = std::make_unique<sim::Instrument>();
        ASSERT_TRUE(instrument->start());
        const uint16_t port = instrument->commandPort();
        const std::vector<std::string> at{"--address", "127.0.0.1", "--port",
                                          std::to_string(port)};
        auto with = [&](std::vector<std::string> arguments) {
            arguments.insert(arguments.begin(), at.begin(), at.end());
            return arguments;
        };
        const std::string file = cellDir.file("run.csv");
        auto onDisk = [&](const std::string& path) {
            return [path] { return test::readFile(path).size() > 20000; };
        };

        switch (cell) {
            case Cell::Restart:
            case Cell::NetworkDrop: {
                Child child(cellDir, with({"record", "--rate", "0", "--seconds", "3", "--stall",
                                           "0.4", "--retry", "20", "--out", file}));
                ASSERT_TRUE(waitFor(onDisk(file + ".part")));
                if (cell == Cell::Restart) {
                    // Switched off and on: a new instrument on the same ports,
                    // whose stream begins again at record 0.
                    instrument->stop();
                    instrument.reset();
                    sim::InstrumentConfig config;
                    config.port = port;
                    instrument = std::make_unique<sim::Instrument>(config);
                    ASSERT_TRUE(waitFor([&] { return instrument->start(); }));
                } else {
                    // Silent, until the recording has given up on that stream.
                    instrument->setStreamFault(sim::StreamFault::Stall);
                    ASSERT_TRUE(waitFor([&] { return instrument->streamConnections() >= 2; }));
                    instrument->setStreamFault(sim::StreamFault::None);
                }
                const Outcome run = child.wait();
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_NE(run.err.find("the stream was interrupted ("), std::string::npos)
                    << run.err;
                const auto found = indices(file);
                ASSERT_GT(found.size(), 100u);
                // One stream after the other: the records of each in order,
                // numbered on without a break.
                std::size_t breaks = 0, at = 0;
                for (std::size_t i = 1; i < found.size(); ++i)
                    if (found[i] != found[i - 1] + 1) {
                        ++breaks;
                        at = i;
                    }
                if (cell == Cell::Restart) {
                    EXPECT_EQ(breaks, 1u);
                    EXPECT_EQ(found[at], 0u) << "the new instrument's first record";
                } else {
                    EXPECT_EQ(breaks, 0u) << "no record lost on a connection kept silent";
                }
                break;
            }
            case Cell::Split: {
                const Outcome run = Child(cellDir, with({"record", "--rate", "0", "--seconds",
                                                         "2", "--split", "0.5", "--out", file}))
                                        .wait();
                EXPECT_EQ(run.status, 0) << run.err;
                std::vector<uint64_t> all;
                for (int n = 1; n <= 4; ++n) {
                    const std::string part = cellDir.file("run-000" + std::to_string(n) + ".csv");
                    EXPECT_FALSE(exists(part + ".part"));
                    const auto found = indices(part);
                    EXPECT_EQ(found.size(), 500u) << part;
                    all.insert(all.end(), found.begin(), found.end());
                }
                EXPECT_FALSE(exists(cellDir.file("run-0005.csv")));
                EXPECT_TRUE(consecutive(all, 0, all.size())) << "a record lost at a boundary";
                break;
            }
            case Cell::SecondRecording: {
                Child first(cellDir, with({"record", "--rate", "0", "--out", file}), false,
                            "first");
                ASSERT_TRUE(waitFor(onDisk(file + ".part")));
                const Outcome second =
                    Child(cellDir, with({"record", "--samples", "5", "--out",
                                         cellDir.file("second.csv")}),
                          false, "second")
                        .wait();
                EXPECT_EQ(second.status, 1);
                EXPECT_NE(second.err.find("another recording from 127.0.0.1:" +
                                          std::to_string(port) + " is running"),
                          std::string::npos)
                    << second.err;
                EXPECT_FALSE(exists(cellDir.file("second.csv.part")));
                // A run that crashed holds nothing.
                ::kill(first.pid(), SIGKILL);
                first.wait();
                const auto found = indices(file + ".part");
                EXPECT_TRUE(consecutive(found, 0, found.size())) << "the first run was disturbed";
                const auto log = instrument->commandLog();
                EXPECT_EQ(std::count(log.begin(), log.end(), "#L01"), 1);
                const Outcome third =
                    Child(cellDir, with({"record", "--samples", "5", "--out",
                                         cellDir.file("third.csv")}),
                          false, "third")
                        .wait();
                EXPECT_EQ(third.status, 0) << third.err;
                break;
            }
            case Cell::Polling: {
                const Outcome one = Child(cellDir, with({"shot"}), false, "one").wait();
                ASSERT_EQ(one.status, 0) << one.err;
                auto unitQueries = [&] {
                    const auto log = instrument->commandLog();
                    return std::count_if(log.begin(), log.end(),
                                         [](const std::string& c) { return c.starts_with("#Z"); });
                };
                const auto perShot = unitQueries();
                instrument->clearCommandLog();
                const Outcome poll = Child(cellDir,
                                           with({"shot", "--count", "3", "--interval", "0.2",
                                                 "--out", "-", "--format", "csv"}),
                                           false, "poll")
                                         .wait();
                EXPECT_EQ(poll.status, 0) << poll.err;
                const auto out = lines(poll.out, "\r\n");
                ASSERT_EQ(out.size(), 4u);
                for (int n = 1; n <= 3; ++n)
                    EXPECT_EQ(fields(out[static_cast<std::size_t>(n)], ',')[0], std::to_string(n));
                EXPECT_EQ(unitQueries(), perShot) << "the units are asked once";
                const auto log = instrument->commandLog();
                EXPECT_EQ(std::count(log.begin(), log.end(), "#X00"), 3);
                break;
            }
        }
    };
    std::vector<std::thread> cells;
    for (Cell cell : {Cell::Restart, Cell::NetworkDrop, Cell::Split, Cell::SecondRecording,
                      Cell::Polling})
        cells.emplace_back(runCell, cell);
    for (auto& cell : cells)
        cell.join();
}

}  // namespace
