// Saves killed at random moments. A child process saves two distinct valid
// versions of a file in turn until it is killed with SIGKILL; afterwards the
// target must hold one of the two versions byte for byte, never a truncated
// or mixed file, and the leftovers of killed saves must not disturb the next
// save. Covers the sample file, the export file, the batch file and the
// settings file, which all replace their target atomically.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/batch_readout.h"
#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "app/settings.h"
#include "app/uitext.h"
#include "common/atomic_file.h"
#include "device/mtrans.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "sim/instrument.h"
#include "support.h"

using namespace tarvelo;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

namespace {

// Rounds per file kind: at least kMinRounds, then more until the time budget
// is spent, never more than kMaxRounds.
constexpr int kMinRounds = 15;
constexpr int kMaxRounds = 400;
constexpr auto kBudget = std::chrono::milliseconds(2500);
// The child gives up by itself after this many saves, should the kill never come.
constexpr int kChildSaves = 2000;
constexpr uint32_t kSeed = 20261209;

// Saves version 0 or 1 of the contents to the target; true on success.
using Save = std::function<bool(int version)>;
// Checks a target that holds version 0 or 1 the way the program reads it.
using CheckRead = std::function<void(int version)>;

struct Outcome {
    int rounds = 0;
    int changes = 0;         // rounds after which the target held the other version
    std::size_t strays = 0;  // leftovers of killed saves in the folder
};

std::vector<std::string> othersInFolder(const std::string& folder, const std::string& target) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename() != target)
            names.push_back(entry.path().filename().string());
    }
    return names;
}

int versionOf(const std::string& bytes, const std::array<std::string, 2>& versions) {
    for (int v = 0; v < 2; ++v) {
        if (bytes == versions[v])
            return v;
    }
    return -1;
}

// The bytes a complete save of each version leaves, taken from real saves.
std::array<std::string, 2> completeVersions(const std::string& path, const Save& save) {
    std::array<std::string, 2> versions;
    for (int v = 0; v < 2; ++v) {
        EXPECT_TRUE(save(v));
        versions[v] = test::readFile(path);
    }
    EXPECT_NE(versions[0], versions[1]);
    return versions;
}

// Runs the kill rounds against `path` (a file in a folder of its own).
void killDuringSaves(const std::string& folder, const std::string& name, const Save& save,
                     const CheckRead& checkRead, Outcome& outcome) {
    const std::string path = folder + "/" + name;
    const auto versions = completeVersions(path, save);
    ASSERT_FALSE(versions[0].empty());

    // The kills are spread over about three saves' time, so that they land
    // before, inside and between the saves.
    const auto started = Clock::now();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(save(i % 2));
    const auto saveTime =
        std::chrono::duration_cast<microseconds>(Clock::now() - started).count() / 3;
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int64_t> delay(0, std::max<int64_t>(3 * saveTime, 2000));

    int current = 0;  // the third save above was version 0
    const auto deadline = Clock::now() + kBudget;
    // Past the budget only while no kill has yet hit a save or no save has
    // yet completed between kills (slow sanitizer builds), up to a hard limit.
    const auto lastChance = Clock::now() + 4 * kBudget;
    const std::size_t leftoversBefore = othersInFolder(folder, name).size();
    auto unproven = [&] {
        return outcome.changes == 0 || othersInFolder(folder, name).size() == leftoversBefore;
    };
    for (int round = 0; round < kMaxRounds && (round < kMinRounds || Clock::now() < deadline ||
                                               (unproven() && Clock::now() < lastChance));
         ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(kSeed));
        // The child starts with the version the target does not hold, so
        // every save it completes changes the file.
        const int first = 1 - current;
        // The child says when its saves begin, so that the random delay is
        // counted from there and not from the fork, whose cost varies with
        // the machine's load.
        int ready[2];
        ASSERT_EQ(0, ::pipe(ready));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Only the saves, then out; dies with the test should that go first.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::close(ready[0]);
            const char go = 1;
            [[maybe_unused]] const ssize_t said = ::write(ready[1], &go, 1);
            for (int i = 0; i < kChildSaves; ++i)
                save((first + i) % 2);
            ::_exit(0);
        }
        ::close(ready[1]);
        char go = 0;
        [[maybe_unused]] const ssize_t heard = ::read(ready[0], &go, 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(microseconds(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));

        const std::string bytes = test::readFile(path);
        const int version = versionOf(bytes, versions);
        ASSERT_NE(-1, version) << "the target holds " << bytes.size()
                               << " bytes that are neither version (" << versions[0].size()
                               << " or " << versions[1].size() << " bytes)";
        checkRead(version);
        if (version != current)
            ++outcome.changes;
        current = version;
        outcome.rounds = round + 1;
    }
    outcome.strays = othersInFolder(folder, name).size();

    // The next save, with the leftovers still there, replaces the target and
    // adds none of its own.
    ASSERT_TRUE(save(1 - current));
    EXPECT_EQ(versions[1 - current], test::readFile(path));
    checkRead(1 - current);
    EXPECT_EQ(outcome.strays, othersInFolder(folder, name).size());
}

// Both halves of the claim must have been exercised: saves completed between
// kills, and kills that hit a save before its rename.
void expectExercised(const Outcome& outcome) {
    std::printf("%d rounds, %d changes of version, %zu leftovers of killed saves\n", outcome.rounds,
                outcome.changes, outcome.strays);
    EXPECT_GE(outcome.rounds, kMinRounds);
    EXPECT_GT(outcome.changes, 0) << "no save completed between the kills";
    EXPECT_GT(outcome.strays, 0u) << "no kill landed inside a save";
}

acquisition::SampleRow sampleRow(int version, int n) {
    acquisition::SampleRow row{};
    for (int c = 0; c < 4; ++c)
        row.channel[c] = (version + 1) * 1000.0 + n * 0.125 + c;
    row.timeMs = 1.7e12 + 100.0 * n + version;
    row.deviceFlag = static_cast<uint8_t>((n + version) % 256);
    return row;
}

// A full memory and one of 9000 rows: files of different sizes.
std::array<std::unique_ptr<acquisition::MeasurementMemory>, 2> twoMemories() {
    std::array<std::unique_ptr<acquisition::MeasurementMemory>, 2> memories;
    for (int v = 0; v < 2; ++v) {
        memories[v] = std::make_unique<acquisition::MeasurementMemory>();
        const int rows = v == 0 ? acquisition::kMemoryCapacity : 9000;
        for (int n = 0; n < rows; ++n)
            memories[v]->AppendSample(sampleRow(v, n));
    }
    return memories;
}

}  // namespace

TEST(CrashSafety, SampleFile) {
    test::TempDir dir;
    const auto memories = twoMemories();
    const std::string path = dir.file("series.dat");
    const Save save = [&](int v) { return files::saveSampleFile(path, *memories[v]); };
    const CheckRead check = [&](int v) {
        const auto loaded = files::loadSampleFile(path);
        ASSERT_TRUE(loaded.ok()) << loaded.detail;
        ASSERT_EQ(static_cast<std::size_t>(memories[v]->RowCount()), loaded.rows.size());
        EXPECT_EQ(sampleRow(v, 0).timeMs, loaded.rows.front().timeMs);
        EXPECT_EQ(sampleRow(v, memories[v]->RowCount() - 1).timeMs, loaded.rows.back().timeMs);
    };
    Outcome outcome;
    killDuringSaves(dir.path(), "series.dat", save, check, outcome);
    expectExercised(outcome);
}

TEST(CrashSafety, ExportFile) {
    test::TempDir dir;
    const auto memories = twoMemories();
    acquisition::SampleList list;
    app::UiText text;
    text.applyLanguage(1);
    list.setPlainCaptions(text);
    list.setCaption(5,
                    "Channel 4 (\xC2\xB0"
                    "C)");  // a degree sign: converted to Windows-1252
    const std::array<std::string, 2> texts{files::exportText(*memories[0], list, ','),
                                           files::exportText(*memories[1], list, '.')};
    const std::string path = dir.file("series.asc");
    const Save save = [&](int v) { return files::saveExportFile(path, texts[v]); };
    const CheckRead check = [](int) {};
    Outcome outcome;
    killDuringSaves(dir.path(), "series.asc", save, check, outcome);
    expectExercised(outcome);
}

namespace {

struct QuietBatchUi : acquisition::BatchUi {
    void error(const char* text) override { errors.emplace_back(text); }
    void rowAppended(const acquisition::SampleRow&) override {}
    std::vector<std::string> errors;
};

// A real batch file read out of the simulated instrument.
std::string batchFileFromInstrument(int32_t records, const std::string& path) {
    sim::InstrumentConfig config;
    config.batchCount = records;
    sim::Instrument instrument(config);
    EXPECT_TRUE(instrument.start());
    app::Settings settings;
    settings.setIpServer("127.0.0.1");
    settings.port = instrument.commandPort();
    // Every reply ends on its end mark: a time-out would only cut a reply
    // that a busy machine delivered late.
    std::atomic<int32_t> timeoutMs{static_cast<int32_t>(test::kNotReached.count())};
    device::LinkTiming timing;
    timing.replyWait = std::chrono::milliseconds(0);
    device::DeviceLink link(settings, timeoutMs, nullptr, timing);
    QuietBatchUi ui;
    EXPECT_EQ(acquisition::BatchFileResult::Written, acquisition::batchToFile(link, path, ui));
    EXPECT_TRUE(ui.errors.empty());
    return test::readFile(path);
}

}  // namespace

TEST(CrashSafety, BatchFile) {
    test::TempDir source;
    // Read out before any fork: the simulated instrument's threads end with it.
    const std::array<std::string, 2> contents{batchFileFromInstrument(60, source.file("a.txt")),
                                              batchFileFromInstrument(45, source.file("b.txt"))};
    ASSERT_NE(contents[0], contents[1]);

    // The readout's last step, the file replacement, is what a kill can hit.
    test::TempDir dir;
    const std::string path = dir.file("batch.txt");
    const Save save = [&](int v) { return common::writeFileAtomically(path, contents[v]); };
    const CheckRead check = [&](int v) {
        EXPECT_EQ(0u, contents[v].rfind(acquisition::kBatchFileHeader, 0));
    };
    Outcome outcome;
    killDuringSaves(dir.path(), "batch.txt", save, check, outcome);
    expectExercised(outcome);
}

TEST(CrashSafety, SettingsFile) {
    test::TempDir dir;
    const std::string path = dir.file(app::kSettingsFileName);
    // The program's own keys and many more, so that the file takes a while.
    std::array<std::vector<std::pair<std::string, std::string>>, 2> keys;
    for (int v = 0; v < 2; ++v) {
        keys[v] = {{"IP-Server", v == 0 ? "127.0.0.1" : "127.0.0.2"},
                   {"Port", v == 0 ? "4000" : "40000"},
                   {"Language", v == 0 ? "0" : "2"},
                   {"SampleRate", v == 0 ? "6" : "12"},
                   {"Color 1", v == 0 ? "255" : "16711680"},
                   {"Unit", v == 0 ? "\xC2\xB0"
                                     "C"
                                   : "\xC2\xB5m"}};
        for (int k = 0; k < 100; ++k)
            keys[v].emplace_back("Key " + std::to_string(k),
                                 std::string(static_cast<std::size_t>(20 + v * 7), 'a' + k % 26));
    }
    app::SettingsFile file(path);
    const Save save = [&](int v) { return file.writeStrings(keys[v]); };
    const CheckRead check = [&](int v) {
        const app::SettingsFile reader(path);
        for (const auto& [key, value] : keys[v])
            ASSERT_EQ(value, reader.readString(key, "<missing>")) << key;
        app::Settings settings;
        app::readStartupSettings(reader, settings);
        EXPECT_EQ(v == 0 ? 4000 : 40000, settings.port.load());
    };
    Outcome outcome;
    killDuringSaves(dir.path(), app::kSettingsFileName, save, check, outcome);
    expectExercised(outcome);
}
