// The recording writer: its file equals the export text of the same samples,
// failures are reported and leave a file without gaps, and a writer killed at
// any moment leaves whole, consecutive lines.

#include <chrono>
#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "files/export_text.h"
#include "files/record_writer.h"
#include "fixtures.h"
#include "support.h"

using namespace tarvelo;
using acquisition::SampleRow;
using files::RecordWriter;
using tarvelo::test::makeRow;

namespace {

SampleRow rowNumber(uint64_t i) {
    return makeRow(static_cast<double>(i) * 0.5, -static_cast<double>(i), 1e6 + i, 0.000015,
                   1700000000000.0 + static_cast<double>(i));
}

std::size_t countLines(const std::string& bytes) {
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = bytes.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    return lines;
}

}  // namespace

TEST(RecordWriter, FileEqualsExportTextAcrossBatchesAndClose) {
    test::TempDir dir;
    acquisition::SampleList list;
    list.setCaption(2, "Channel 1 (\u00B0C)");
    acquisition::MeasurementMemory memory;

    RecordWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(dir.file("run.asc"), files::exportHeaderBytes(list),
                            files::exportLineFormatter(','), &error))
        << error;
    // Single appends and runs, more than one wake batch, some before and
    // some after the writer's first pass.
    std::vector<SampleRow> run;
    for (uint64_t i = 1; i <= 20000; ++i) {
        const SampleRow row = rowNumber(i);
        memory.AppendSample(row);
        if (i % 3 == 0) {
            run.push_back(row);
            writer.append(run.data(), run.size());
            run.clear();
        } else if (i < 9000) {
            writer.append(row);
        } else {
            run.push_back(row);
        }
        if (i == 100)
            std::this_thread::sleep_for(RecordWriter::kWriteInterval * 2);
    }
    writer.append(run.data(), run.size());
    EXPECT_TRUE(writer.close(&error)) << error;
    EXPECT_TRUE(writer.close());  // repeatable
    EXPECT_EQ(20000u, writer.written());
    writer.append(rowNumber(1));  // after close: dropped
    EXPECT_EQ(20000u, writer.appended());

    // The memory holds the first 10240 samples' places; compare the lines
    // against the export text built from every sample in turn.
    std::string expected = common::utf8ToCp1252(files::exportHeaderLine(list));
    for (uint64_t i = 1; i <= 20000; ++i)
        files::appendExportLine(expected, i, rowNumber(i), ',');
    const std::string file = test::readFile(dir.file("run.asc"));
    EXPECT_EQ(expected, file);
    EXPECT_NE(std::string::npos, file.find("\tChannel 1 (\xB0"
                                           "C)\t"));  // Windows-1252
    // The export text of a memory that has not wrapped has the same lines.
    acquisition::MeasurementMemory small;
    for (uint64_t i = 1; i <= 3; ++i)
        small.AppendSample(rowNumber(i));
    EXPECT_EQ(common::utf8ToCp1252(files::exportText(small, list, ',')),
              expected.substr(0, expected.find("\r\n4\t") + 2));
}

TEST(RecordWriter, FailuresAreReportedAndLeaveNoGap) {
    test::TempDir dir;
    std::string error;
    {
        RecordWriter writer;  // folder missing
        EXPECT_FALSE(writer.open(dir.file("gone/run.asc"), "h\r\n", files::exportLineFormatter('.'),
                                 &error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(writer.isOpen());
    }
    {
        RecordWriter writer;  // a full disk: every write fails
        ASSERT_TRUE(writer.open("/dev/full", "", files::exportLineFormatter('.'), &error));
        writer.append(rowNumber(1));
        error.clear();
        EXPECT_FALSE(writer.close(&error));
        EXPECT_TRUE(writer.failed());
        EXPECT_NE(std::string::npos, error.find("write")) << error;
        EXPECT_EQ(0u, writer.written());
    }
    {
        // A file-size limit (ulimit -f, a quota): with the signal ignored, as
        // the window program does, the write fails like on a full disk and
        // the file is cut back to its last whole line.
        common::ignoreFileSizeSignal();
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 4096 + 17;
        RecordWriter writer;
        ASSERT_TRUE(
            writer.open(dir.file("limit.asc"), "h\r\n", files::exportLineFormatter('.'), &error));
        setrlimit(RLIMIT_FSIZE, &limit);
        for (uint64_t i = 1; i <= 30; ++i)
            writer.append(rowNumber(i));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (writer.written() < 30 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (uint64_t i = 31; i <= 1000; ++i)
            writer.append(rowNumber(i));
        error.clear();
        const bool closed = writer.close(&error);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_FALSE(closed);
        EXPECT_TRUE(writer.failed());
        EXPECT_FALSE(error.empty());
        const std::string file = test::readFile(dir.file("limit.asc"));
        std::string expected = "h\r\n";
        for (uint64_t i = 1; i <= writer.written(); ++i)
            files::appendExportLine(expected, i, rowNumber(i), '.');
        EXPECT_EQ(expected, file);
        EXPECT_LE(file.size(), 4096u + 17u);
        EXPECT_GE(writer.written(), 30u);
    }
    {
        // More waiting than the queue holds: the recording stops, and the
        // samples accepted before are still written, in order.
        RecordWriter writer;
        ASSERT_TRUE(
            writer.open(dir.file("over.asc"), "h\r\n", files::exportLineFormatter('.'), &error, 4));
        for (uint64_t i = 1; i <= 3; ++i)
            writer.append(rowNumber(i));
        std::vector<SampleRow> many(10, rowNumber(99));
        writer.append(many.data(), many.size());
        EXPECT_TRUE(writer.failed());
        writer.append(rowNumber(4));
        EXPECT_FALSE(writer.close(&error));
        EXPECT_EQ(3u, writer.written());
        std::string expected = "h\r\n";
        for (uint64_t i = 1; i <= 3; ++i)
            files::appendExportLine(expected, i, rowNumber(i), '.');
        EXPECT_EQ(expected, test::readFile(dir.file("over.asc")));
    }
}

// A child records a stream of samples until it is killed; the file then holds
// lines numbered 1, 2, ... without a gap. A kill that lands inside a write()
// of a batch can cut it at a page boundary, which no appending writer can
// prevent: what follows the last whole line is then the start of the next
// one, never anything else.
TEST(RecordWriter, KilledWriterLeavesWholeConsecutiveLines) {
    test::TempDir dir;
    const std::string path = dir.file("killed.asc");
    for (int round = 0; round < 3; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RecordWriter writer;
            if (!writer.open(path, "h\r\n", files::exportLineFormatter('.')))
                _exit(2);
            // About 2000 samples a second, the pace of a fast instrument.
            for (uint64_t i = 1;; ++i) {
                writer.append(rowNumber(i));
                usleep(500);
            }
        }
        // Wait for several writes, a different number each round.
        struct stat info {};
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((::stat(path.c_str(), &info) != 0 || info.st_size < 20000 * (round + 1)) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        const std::string file = test::readFile(path);
        const std::size_t wholeEnd = file.rfind("\r\n");
        ASSERT_NE(std::string::npos, wholeEnd);
        const std::size_t lines = countLines(file.substr(0, wholeEnd + 2)) - 1;
        ASSERT_GT(lines, 0u) << "round " << round;
        std::string expected = "h\r\n";
        for (uint64_t i = 1; i <= lines; ++i)
            files::appendExportLine(expected, i, rowNumber(i), '.');
        const std::size_t whole = expected.size();
        files::appendExportLine(expected, lines + 1, rowNumber(lines + 1), '.');
        ASSERT_LT(file.size(), expected.size()) << "round " << round;
        EXPECT_EQ(expected.substr(0, file.size()), file) << "round " << round;
        EXPECT_EQ(whole, wholeEnd + 2) << "round " << round;
    }
}
