#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/batch_readout.h"
#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "analysis/statistics.h"
#include "app/settings.h"
#include "common/atomic_file.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "files/workbook.h"
#include "device/mtrans.h"
#include "device/replies.h"
#include "sim/instrument.h"
#include "fixtures.h"
#include "support.h"

using namespace tarvelo;
using acquisition::BatchFileResult;
using acquisition::kMemoryCapacity;

namespace {

struct RecordingUi : acquisition::BatchUi {
    void error(const char* text) override { errors.emplace_back(text); }
    void progressStart(int maximum) override { maximums.push_back(maximum); }
    void progress(int position) override {
        positions.push_back(position);
        if (onProgress)
            onProgress(position);
    }
    void progressFinish() override { ++finished; }
    void rowAppended(const acquisition::SampleRow& row) override { list.addRow(row); }
    // Cancels once this many exchanges have been asked for.
    bool cancelRequested() override { return ++asked > cancelAfter; }
    int asked = 0;
    int cancelAfter = 1 << 30;
    std::vector<std::string> errors;
    std::vector<int> maximums;
    std::vector<int> positions;
    int finished = 0;
    acquisition::SampleList list;  // the list rows of Batch to memory
    std::function<void(int)> onProgress;  // after each record read whole
};

class BatchTest : public ::testing::Test {
protected:
    void startInstrument(sim::InstrumentConfig config, std::chrono::milliseconds replyWait) {
        instrument = std::make_unique<sim::Instrument>(std::move(config));
        ASSERT_TRUE(instrument->start());
        settings.setIpServer("127.0.0.1");
        settings.port = instrument->commandPort();
        device::LinkTiming timing;
        timing.replyWait = replyWait;
        link = std::make_unique<device::DeviceLink>(settings, socketTimeoutMs, &observer, timing);
    }
    void SetUp() override {
        startInstrument(test::threeBatchRecords(), std::chrono::milliseconds(1));
    }

    app::Settings settings;
    // Every reply ends on its end mark: a time-out would only cut a reply
    // that a busy machine delivered late.
    std::atomic<int32_t> socketTimeoutMs{static_cast<int32_t>(test::kNotReached.count())};
    test::RecordingObserver observer;
    std::unique_ptr<sim::Instrument> instrument;
    std::unique_ptr<device::DeviceLink> link;
    RecordingUi ui;
    test::TempDir dir;
};

std::vector<std::string> fullRecordCommands(int i) {
    const std::string n = std::to_string(i);
    std::vector<std::string> commands{"#M40" + n, "#M11" + n, "#M21" + n, "#M31" + n};
    for (const char* kind : {"#M5", "#M6"})
        for (int c = 1; c <= 4; ++c)
            commands.push_back(kind + std::to_string(c) + n);
    return commands;
}

const std::string kHeaderLine =
    "Nr.\tDate/Time\tCh1\tCh2\tCh3\tCh4\tBatch\tiBatch\tUpper Peak 1\tUpper Peak 2\t"
    "Upper Peak 3\tUpper Peak 4\tLower Peak 1\tLower Peak 2\tLower Peak 3\tLower Peak 4\t"
    "Unit 1\tUnit 2\tUnit 3\tUnit 4\tSerial 1\tSerial 2\tSerial 3\tSerial 4\r\n";

}  // namespace

TEST_F(BatchTest, ToFileReadsRecordsZeroToCountWithTheirQueriesInOrder) {
    const std::string path = dir.file("batch.txt");
    test::writeFile(path, "old content");
    ASSERT_EQ(BatchFileResult::Written, acquisition::batchToFile(*link, path, ui));

    // "#M01" answers 2: records 0, 1 and 2; record 1 has no batch name, so
    // no unit or serial query is sent for it.
    std::vector<std::string> expected{"#M01"};
    for (int i = 0; i < 3; ++i) {
        auto commands = fullRecordCommands(i);
        if (i == 1)
            commands.resize(4);
        expected.insert(expected.end(), commands.begin(), commands.end());
    }
    EXPECT_EQ(expected, instrument->commandLog());

    EXPECT_EQ(std::vector<int>{3}, ui.maximums);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), ui.positions);
    EXPECT_EQ(1, ui.finished);
    EXPECT_TRUE(ui.errors.empty());

    // Windows-1252 bytes (0xC4, 0xB0), decimal commas as sent, CR LF after
    // every line; channel 3 of the simulator has an empty unit.
    const std::string line1 =
        "1\t14.11.2023 22.13.20.123\t12,5\t-0,003\t0\t1000\tLot \xC4\t1\t13\t0,497\t0,5\t1000,5"
        "\t12,25\t-0,253\t-0,25\t999,75\tN\tmm\t\t\xB0"
        "C\tSN-1001\tSN-1002\tSN-1003\tSN-1004"
        "\r\n";
    const std::string line2 =
        "2\t14.11.2023 22.14.20.000\t1\t2\t3\t4\t\t\t1,5\t2,5\t3,5\t4,5"
        "\t0,75\t1,75\t2,75\t3,75\r\n";
    const std::string content = test::readFile(path);
    EXPECT_EQ(kHeaderLine + line1 + line2,
              content.substr(0, kHeaderLine.size() + line1.size() + line2.size()));
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        lines.push_back(content.substr(start, end - start));
    ASSERT_EQ(4u, lines.size());
    auto fieldCount = [](const std::string& line) {
        return 1 + std::count(line.begin(), line.end(), '\t');
    };
    EXPECT_EQ(24, fieldCount(lines[0]));
    EXPECT_EQ(24, fieldCount(lines[1]));
    EXPECT_EQ(16, fieldCount(lines[2]));
    EXPECT_EQ(24, fieldCount(lines[3]));
    EXPECT_EQ(0u, lines[3].rfind("3\t14.11.2023 22.15.20.999\t0,125\t0\t0\t7,75\tB\t7\t", 0))
        << lines[3];
}

// A cancel ends either readout before the next exchange: Batch to memory
// keeps the records read whole, Batch to file writes nothing.
TEST_F(BatchTest, CancelEndsBeforeTheNextExchange) {
    acquisition::MeasurementMemory memory;
    acquisition::BatchSummary summary;
    ui.cancelAfter = 4;  // "#M01", record 0 (two queries), "#M111"
    EXPECT_TRUE(acquisition::batchToMemory(*link, memory, ui, &summary));
    EXPECT_EQ((std::vector<std::string>{"#M01", "#M110", "#M400", "#M111"}),
              instrument->commandLog());
    EXPECT_EQ(1, memory.RowCount());
    EXPECT_EQ(1, ui.list.size());
    EXPECT_EQ(acquisition::BatchEnd::Cancelled, summary.end);
    EXPECT_EQ(3, summary.records);
    EXPECT_EQ(1, summary.read);
    EXPECT_EQ(1, ui.finished);

    const std::string path = dir.file("kept.txt");
    test::writeFile(path, "old content");
    for (int after : {0, 15}) {
        ui = RecordingUi{};
        ui.cancelAfter = after;
        instrument->clearCommandLog();
        EXPECT_EQ(BatchFileResult::Cancelled,
                  acquisition::batchToFile(*link, path, ui, nullptr, &summary));
        EXPECT_EQ(static_cast<std::size_t>(after), instrument->commandLog().size());
        EXPECT_EQ(acquisition::BatchEnd::Cancelled, summary.end);
        EXPECT_EQ(after == 0 ? 0 : 1, summary.read);  // 15: "#M01", record 0 (12), two more
        EXPECT_EQ("old content", test::readFile(path));
    }
}

TEST_F(BatchTest, ToFileWithCountMinusOneWritesTheHeaderAlone) {
    instrument->overrideReply("#M01", "#M01-1");
    const std::string path = dir.file("empty.txt");
    ASSERT_EQ(BatchFileResult::Written, acquisition::batchToFile(*link, path, ui));
    EXPECT_EQ(kHeaderLine, test::readFile(path));
    EXPECT_EQ(std::vector<int>{0}, ui.maximums);
    EXPECT_TRUE(ui.positions.empty());
    EXPECT_EQ(std::vector<std::string>{"#M01"}, instrument->commandLog());
}

TEST_F(BatchTest, ToFileFailedQueriesShowTheirMessageAndKeepTheColumns) {
    instrument->overrideReply("#M401", "#ERR");  // time of record 1
    instrument->overrideReply("#M212", "#ERR");  // upper peaks of record 2
    instrument->overrideReply("#M532", "");      // unit 3 of record 2: empty reply
    instrument->overrideReply("#M640", "#M6");   // serial 4 of record 0: wrong echo
    // The empty reply (its end mark alone, a chunk too short to end it) ends
    // at the time-out only; far longer than any answered reply takes.
    socketTimeoutMs = 3000;
    const std::string path = dir.file("failed.txt");
    ASSERT_EQ(BatchFileResult::Written, acquisition::batchToFile(*link, path, ui));
    EXPECT_EQ((std::vector<std::string>{device::kErrM6, device::kErrM40, device::kErrM21,
                                        device::kErrM5}),
              ui.errors);

    const std::string content = test::readFile(path);
    // Every line keeps the columns of the header: failed fields are empty.
    std::size_t begin = 0;
    for (int line = 0; line < 4; ++line) {
        const std::size_t end = content.find("\r\n", begin);
        ASSERT_NE(std::string::npos, end);
        const auto tabs = std::count(content.begin() + begin, content.begin() + end, '\t');
        EXPECT_TRUE(tabs == 23 || tabs == 15) << "line " << line << ": " << tabs << " tabs";
        begin = end + 2;
    }
    // Record 1: time, batch and iBatch empty, not record 0's texts.
    EXPECT_NE(
        std::string::npos,
        content.find("\r\n2\t\t1\t2\t3\t4\t\t\t1,5\t2,5\t3,5\t4,5\t0,75\t1,75\t2,75\t3,75\r\n"));
    // Record 2: upper peaks empty, unit 3 empty.
    EXPECT_NE(std::string::npos,
              content.find(
                  "\r\n3\t14.11.2023 22.15.20.999\t0,125\t0\t0\t7,75\tB\t7\t\t\t\t\t-0,125\t-0,25"
                  "\t-0,25\t7,5\tN\tmm\t\t\xB0"
                  "C\tSN-1001"));
    // Record 0: serial 4 empty.
    EXPECT_NE(std::string::npos, content.find("\tSN-1001\tSN-1002\tSN-1003\t\r\n2\t"));
}

TEST_F(BatchTest, ToFileStopsOnABadCountAndReportsAFailedWrite) {
    instrument->overrideReply("#M01", "#ERR");
    const std::string path = dir.file("never.txt");
    EXPECT_EQ(BatchFileResult::CountError, acquisition::batchToFile(*link, path, ui));
    EXPECT_EQ(std::vector<std::string>{device::kErrM01}, ui.errors);
    EXPECT_TRUE(ui.maximums.empty());
    EXPECT_TRUE(test::readFile(path).empty());

    instrument->clearReplyOverrides();
    std::string error;
    EXPECT_EQ(BatchFileResult::WriteFailed,
              acquisition::batchToFile(*link, dir.file("missing/batch.txt"), ui, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(1, ui.finished);

    instrument->setCommandFault(sim::CommandFault::RefuseConnections);
    ui = RecordingUi{};
    EXPECT_EQ(BatchFileResult::NoConnection, acquisition::batchToFile(*link, path, ui));
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(ui.maximums.empty());
}

TEST_F(BatchTest, ToMemoryAppendsOneRowPerRecordWithFailedFieldsNotANumber) {
    acquisition::MeasurementMemory memory;
    instrument->overrideReply("#M111", "#ERR");
    instrument->overrideReply("#M402", "#M4");
    ASSERT_TRUE(acquisition::batchToMemory(*link, memory, ui));

    EXPECT_EQ(
        (std::vector<std::string>{"#M01", "#M110", "#M400", "#M111", "#M401", "#M112", "#M402"}),
        instrument->commandLog());
    EXPECT_EQ((std::vector<std::string>{device::kErrM11, device::kErrM40}), ui.errors);
    EXPECT_EQ(std::vector<int>{3}, ui.maximums);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), ui.positions);

    ASSERT_EQ(3, memory.RowCount());
    ASSERT_EQ(3, ui.list.size());
    const auto r0 = memory.row(0);
    EXPECT_EQ(12.5, r0.channel[0]);
    EXPECT_EQ(-0.003, r0.channel[1]);
    EXPECT_EQ(1000.0, r0.channel[3]);
    EXPECT_EQ(1700000000123.0, r0.timeMs);
    EXPECT_EQ(0, r0.deviceFlag);
    // Record 1's values failed: not a number, not zero or record 0's.
    const auto r1 = memory.row(1);
    for (double v : r1.channel)
        EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(1700000060000.0, r1.timeMs);
    // Record 2's time failed: not a number, values kept.
    EXPECT_TRUE(std::isnan(memory.row(2).timeMs));
    EXPECT_EQ(7.75, memory.row(2).channel[3]);
    EXPECT_EQ("3", ui.list.cellText(2, 0, ','));
    EXPECT_EQ("7,75000", ui.list.cellText(2, 5, ','));

    // A field that could not be read is empty wherever it is shown...
    for (int column = 2; column <= 5; ++column)
        EXPECT_EQ("", ui.list.cellText(1, column, ','));
    EXPECT_EQ("", ui.list.cellText(2, 1, ','));
    const std::string text = files::exportText(memory, ui.list, ',');
    EXPECT_NE(std::string::npos, text.find("\r\n2\t14.11.2023 22.14.20.000\t\t\t\t\t\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\r\n3\t\t0,12500\t0,00000\t0,00000\t7,75000\t\r\n"));
    // ... left out of its channel's statistics, the other channels keep it ...
    const auto statistics = analysis::ComputeStatistics(memory);
    EXPECT_EQ(3, statistics.count);
    EXPECT_EQ(2, statistics.channels[0].count);
    EXPECT_EQ((12.5 + 0.125) / 2, *statistics.channels[0].average);
    EXPECT_EQ(0.125, statistics.channels[0].minimum);
    EXPECT_EQ(2, statistics.channels[3].count);
    // ... and a sample file keeps its bytes and gives them back the same.
    const std::string path = dir.file("unread.dat");
    ASSERT_TRUE(files::saveSampleFile(path, memory));
    const auto loaded = files::loadSampleFile(path);
    ASSERT_TRUE(loaded.ok());
    ASSERT_EQ(3u, loaded.rows.size());
    for (int i = 0; i < 3; ++i) {
        const auto row = memory.row(i);
        EXPECT_EQ(0, std::memcmp(&row, &loaded.rows[i], 41)) << i;
    }
    // The workbook leaves the cells empty.
    const std::string book = dir.file("unread.xlsx");
    std::string error;
    ASSERT_TRUE(files::writeWorkbook(book, ui.list, &error)) << error;
}

TEST_F(BatchTest, ToMemoryStopsWithoutCountOrConnection) {
    acquisition::MeasurementMemory memory;
    instrument->overrideReply("#M01", "#ERR");
    EXPECT_FALSE(acquisition::batchToMemory(*link, memory, ui));
    EXPECT_EQ(std::vector<std::string>{device::kErrM01}, ui.errors);

    instrument->overrideReply("#M01", "#M01-1");
    EXPECT_FALSE(acquisition::batchToMemory(*link, memory, ui));

    instrument->setCommandFault(sim::CommandFault::RefuseConnections);
    EXPECT_FALSE(acquisition::batchToMemory(*link, memory, ui));
    EXPECT_EQ(1u, ui.errors.size());
    EXPECT_EQ(0, memory.RowCount());
    EXPECT_EQ(0, ui.list.size());
}

TEST_F(BatchTest, ToMemoryOf10241RecordsWrapsTheMemory) {
    sim::InstrumentConfig config;
    config.batchCount = kMemoryCapacity + 1;
    config.clockStartMs = 1700000000000;
    startInstrument(config, std::chrono::milliseconds(0));

    acquisition::MeasurementMemory memory;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(acquisition::batchToMemory(*link, memory, ui));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    RecordProperty("seconds", std::to_string(seconds.count()));

    EXPECT_TRUE(ui.errors.empty());
    EXPECT_TRUE(memory.Wrapped());
    EXPECT_EQ(1, memory.WritePosition());
    EXPECT_EQ(kMemoryCapacity + 1, ui.list.size());
    // The oldest row (at WritePosition) is record 1, the newest (row 0)
    // record 10240; the simulator's records are a minute apart.
    const double first = 1700000000000.0 - (kMemoryCapacity + 1) * 60000.0;
    EXPECT_EQ(first + 60000.0, memory.row(1).timeMs);
    EXPECT_EQ(first + kMemoryCapacity * 60000.0, memory.row(0).timeMs);
    EXPECT_EQ(10.0 + 2.5 + 1 * 0.25, memory.row(1).channel[0]);
}

namespace {

// Until destroyed, files of this process cannot grow beyond `bytes`: a write
// past it fails with EFBIG, as on a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
        common::ignoreFileSizeSignal();
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old{};
};

enum class Fault { Vanishes, Hangs, Cancel, DiskFull };

}  // namespace

// Both readouts under the faults a long readout meets, each striking once
// record 0 has been read whole: what was read is kept (in the memory, or in
// the file under the chosen name), the record begun is not, a silent
// instrument shows no message, and the summary tells the early end from a
// complete one.
TEST_F(BatchTest, FaultMatrixKeepsTheRecordsRead) {
    // A hung instrument is told by its queries running into the time-out:
    // one far longer than any answered reply takes, but not out of reach.
    socketTimeoutMs = 3000;
    // The reference: every record read without a fault.
    const std::string reference = dir.file("reference.txt");
    ASSERT_EQ(BatchFileResult::Written, acquisition::batchToFile(*link, reference, ui));
    const std::string full = test::readFile(reference);
    const std::string firstRecord = full.substr(0, full.find("\r\n2\t") + 2);

    struct Cell {
        const char* name;
        bool toFile;
        Fault fault;
    };
    const Cell cells[] = {
        {"file, vanishes", true, Fault::Vanishes}, {"file, hangs", true, Fault::Hangs},
        {"file, cancel", true, Fault::Cancel},     {"file, disk full", true, Fault::DiskFull},
        {"list, vanishes", false, Fault::Vanishes}, {"list, hangs", false, Fault::Hangs},
        {"list, cancel", false, Fault::Cancel},
    };
    for (const Cell& cell : cells) {
        SCOPED_TRACE(cell.name);
        instrument->setCommandFault(sim::CommandFault::None);
        ui = RecordingUi{};
        std::unique_ptr<FileSizeLimit> limit;
        ui.onProgress = [&](int position) {
            if (position != 1)
                return;
            switch (cell.fault) {
                case Fault::Vanishes:
                    instrument->setCommandFault(sim::CommandFault::RefuseConnections);
                    break;
                case Fault::Hangs:
                    instrument->setCommandFault(sim::CommandFault::NoReply);
                    break;
                case Fault::Cancel:
                    ui.cancelAfter = ui.asked;
                    break;
                case Fault::DiskFull:
                    // Room for less than the header: the file cannot be written.
                    limit = std::make_unique<FileSizeLimit>(64);
                    break;
            }
        };
        acquisition::BatchSummary summary;
        const acquisition::BatchEnd expectedEnd =
            cell.fault == Fault::Cancel     ? acquisition::BatchEnd::Cancelled
            : cell.fault == Fault::DiskFull ? acquisition::BatchEnd::Complete
                                            : acquisition::BatchEnd::Lost;
        if (cell.toFile) {
            const std::string path = dir.file(std::string(cell.name) + ".txt");
            test::writeFile(path, "earlier readout\r\n");
            std::string error;
            const auto result = acquisition::batchToFile(*link, path, ui, &error, &summary,
                                                         acquisition::EarlyEnd::WriteRecordsRead);
            limit.reset();
            if (cell.fault == Fault::DiskFull) {
                // Reported, and the earlier file is left as it was.
                EXPECT_EQ(BatchFileResult::WriteFailed, result);
                EXPECT_FALSE(error.empty());
                EXPECT_EQ(3, summary.read);
                EXPECT_EQ("earlier readout\r\n", test::readFile(path));
            } else {
                EXPECT_EQ(BatchFileResult::PartWritten, result) << error;
                EXPECT_EQ(1, summary.read);
                EXPECT_EQ(firstRecord, test::readFile(path));
            }
        } else {
            acquisition::MeasurementMemory memory;
            acquisition::batchToMemory(*link, memory, ui, &summary);
            ASSERT_EQ(1, memory.RowCount());
            EXPECT_EQ(1, ui.list.size());
            EXPECT_EQ(12.5, memory.row(0).channel[0]);
            EXPECT_EQ(1700000000123.0, memory.row(0).timeMs);
            EXPECT_EQ(1, summary.read);
        }
        EXPECT_EQ(expectedEnd, summary.end);
        EXPECT_EQ(cell.fault == Fault::Hangs, summary.silent);
        EXPECT_EQ(3, summary.records);
        EXPECT_TRUE(ui.errors.empty()) << ui.errors.front();
        EXPECT_EQ(1, ui.finished);
    }
}

// A malformed reply keeps its message; a query that gets no byte back shows
// none.
TEST_F(BatchTest, MalformedRepliesKeepTheirMessageSilentOnesShowNone) {
    // Empty and silent replies end at the time-out only.
    socketTimeoutMs = 3000;
    instrument->overrideReply("#M110", "");  // a reply of no text: malformed
    acquisition::MeasurementMemory memory;
    acquisition::BatchSummary summary;
    EXPECT_TRUE(acquisition::batchToMemory(*link, memory, ui, &summary));
    EXPECT_EQ(std::vector<std::string>{device::kErrM11}, ui.errors);
    EXPECT_EQ(acquisition::BatchEnd::Complete, summary.end);

    ui = RecordingUi{};
    instrument->clearReplyOverrides();
    instrument->setCommandFault(sim::CommandFault::NoReply);
    EXPECT_FALSE(acquisition::batchToMemory(*link, memory, ui, &summary));
    EXPECT_TRUE(ui.errors.empty());
    EXPECT_EQ(acquisition::BatchEnd::NoCount, summary.end);
}
