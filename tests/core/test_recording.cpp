// Reading a recording of either program's text, its envelope, its exact
// statistics and its gaps, against what the rows give when walked one by one.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/sample_list.h"
#include "analysis/statistics.h"
#include "files/csv_text.h"
#include "files/export_text.h"
#include "files/record_writer.h"
#include "fixtures.h"
#include "common/atomic_file.h"
#include "recording/recording_reader.h"
#include "recording/split_run.h"
#include "recording/stretch.h"
#include "support.h"

using namespace tarvelo;
using recording::readRecording;
using recording::readRecordingBytes;
using recording::readRecordingFiles;
using recording::RunFault;
using recording::Recording;

namespace {

enum class Writer { ExportPoint, ExportComma, Csv };

// The file our programs write for these rows.
std::string fileText(Writer writer, const std::vector<acquisition::SampleRow>& rows) {
    acquisition::SampleList list;
    list.setCaption(2, "Kraft (N)");
    std::string text;
    if (writer == Writer::Csv) {
        text = files::csvHeaderLine(list);
        uint64_t number = 0;
        for (const auto& row : rows)
            files::appendCsvLine(text, ++number, row);
    } else {
        text = files::exportHeaderBytes(list);
        const auto format = files::exportLineFormatter(writer == Writer::ExportComma ? ',' : '.');
        uint64_t number = 0;
        for (const auto& row : rows)
            format(text, ++number, row);
    }
    return text;
}

// Rows with values of five decimals, a step of `stepMs` and, from sample
// `gapAt` on, the times `gapMs` later.
std::vector<acquisition::SampleRow> makeRows(std::size_t n, uint32_t seed, int64_t stepMs = 1,
                                             std::size_t gapAt = 0, int64_t gapMs = 0) {
    std::mt19937_64 random(seed);
    std::vector<acquisition::SampleRow> rows(n);
    int64_t walk = 0;
    for (std::size_t i = 0; i < n; ++i) {
        walk += static_cast<int64_t>(random() % 2001) - 1000;
        const int64_t units[4] = {walk, static_cast<int64_t>(random() % 200000001) - 100000000,
                                  static_cast<int64_t>(i % 7 == 0) * 123456, -walk / 3 + 99999};
        for (int k = 0; k < 4; ++k)
            rows[i].channel[k] = static_cast<double>(units[k]) / 100000.0;
        rows[i].timeMs = static_cast<double>(1765000000000 + static_cast<int64_t>(i) * stepMs +
                                             (gapAt && i >= gapAt ? gapMs : 0));
    }
    return rows;
}

std::unique_ptr<Recording> read(std::string_view bytes, unsigned threads = 0) {
    recording::ReadOptions options;
    options.threads = threads;
    auto outcome = readRecordingBytes(bytes, options);
    EXPECT_TRUE(outcome.recording) << outcome.error;
    return std::move(outcome.recording);
}

std::string cells(const analysis::StatisticsResult& s) {
    std::string text = std::to_string(s.count);
    for (int k = 0; k < 4; ++k)
        for (auto row : {analysis::StatisticRow::Minimum, analysis::StatisticRow::Maximum,
                         analysis::StatisticRow::Average, analysis::StatisticRow::Deviation})
            text += " " + analysis::statisticCellText(s, k, row, '.');
    return text;
}

TEST(Recording, ReadsEveryWritersTextSampleForSample) {
    const auto rows = makeRows(20000, 1);
    for (Writer writer : {Writer::ExportPoint, Writer::ExportComma, Writer::Csv}) {
        const std::string text = fileText(writer, rows);
        // Split among 1 to 7 threads, and with a last line cut anywhere in it.
        for (unsigned threads : {1u, 2u, 3u, 7u}) {
            for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{30}}) {
                SCOPED_TRACE(std::to_string(static_cast<int>(writer)) + " threads " +
                             std::to_string(threads) + " cut " + std::to_string(cut));
                const std::string bytes = cut ? text + fileText(writer, {rows[0]}).substr(
                                                           text.find('\n') + 1, cut)
                                              : text;
                const auto r = read(bytes, threads);
                ASSERT_TRUE(r);
                EXPECT_EQ(r->cutLastLine(), cut != 0);
                EXPECT_EQ(r->format(), writer == Writer::Csv ? recording::RecordingFormat::Csv
                                                             : recording::RecordingFormat::ExportText);
                EXPECT_EQ(r->captions()[1], "Kraft (N)");
                ASSERT_EQ(r->size(), rows.size());
                for (std::size_t i = 0; i < rows.size(); ++i) {
                    ASSERT_EQ(static_cast<double>(r->timeMs(i)), rows[i].timeMs) << i;
                    for (int k = 0; k < 4; ++k)
                        ASSERT_EQ(r->value(k, i), rows[i].channel[k]) << i << " " << k;
                }
            }
        }
    }
}

TEST(Recording, ReadsAFileStillBeingWritten) {
    test::TempDir dir;
    const auto rows = makeRows(5000, 2);
    const std::string text = fileText(Writer::Csv, rows);
    test::writeFile(dir.file("run.csv.part"), text.substr(0, text.size() - 20));
    const auto outcome = readRecording(dir.file("run.csv.part"));
    ASSERT_TRUE(outcome.recording) << outcome.error;
    EXPECT_EQ(outcome.recording->size(), 4999u);
    EXPECT_TRUE(outcome.recording->cutLastLine());
    EXPECT_FALSE(readRecording(dir.file("missing.csv")).error.empty());
    EXPECT_FALSE(readRecording(dir.path()).error.empty());
}

TEST(Recording, RefusesWhatIsNotARecordingWithTheLineAndReason) {
    const std::string asc = "\tTime\tA\tB\tC\tD\r\n";
    const std::string csv = "Number,Time,A,B,C,D\r\n";
    const std::string good = "1\t01.02.2026 10.00.00.000\t1.00000\t2,00000\t3\t-4.5\t\r\n";
    const std::string goodCsv = "1,2026-02-01T10:00:00.000,1.00000,2.00000,3,-4.5\r\n";
    const struct {
        std::string bytes;
        std::string error;
    } cases[] = {
        {"", "empty"},
        {"hello\n", "not a recording"},
        {"\x89PNG\r\n", "not a recording"},
        {"\tTime\tA\tB\r\n" + good, "names 3 columns"},
        {asc, "no samples"},
        {asc + good + "2\t01.02.2026 10.00.00.001\tx\t2\t3\t4\t\r\n", "line 3: channel 1: not a number"},
        {asc + good + "2\t01.02.2026 10.00.00.001\t1\t2\t3\tnan\t\r\n", "line 3: channel 4"},
        {asc + "1\t--.--.---- --.--.--.---\t1\t2\t3\t4\t\r\n", "line 2: the time"},
        {asc + "1\t31.02.2026 10.00.00.000\t1\t2\t3\t4\t\r\n", "line 2: the time"},
        {asc + "1\t01.02.2026 24.00.00.000\t1\t2\t3\t4\t\r\n", "line 2: the time"},
        {asc + good + "2\t01.02.2026 09.59.59.999\t1\t2\t3\t4\t\r\n", "line 3: the time goes back"},
        {asc + "1\t01.02.2026 10.00.00.000\t1.000001\t2\t3\t4\t\r\n", "five decimals"},
        {asc + "1\t01.02.2026 10.00.00.000\t1000000000\t2\t3\t4\t\r\n", "beyond"},
        {asc + "1\t01.02.2026 10.00.00.000\t1\t2\t3\r\n", "channel 4"},
        {asc + "1\t01.02.2026 10.00.00.000\t1\t2\t3\t4\t5\t\r\n", "more than four"},
        {asc + "\r\n", "line 2: not a sample line"},
        {csv + goodCsv + "2,,1,2,3,4\r\n", "line 3: the time"},
        {csv + "1,2026-02-01T10:00:00.000,1,2,3,4,\r\n", "line 2: more than four"},
        {csv + "1,2026-02-01T10:00:00.000,1,2,3\r\n", "channel 4"},
        {csv + "1,2026-02-01T10:00:00.000,1,2,3,4,5\r\n", "more than four"},
        {csv + "1,2026-02-01T10:00:00.000,1,2,3,4,5\r\n", "more than four"},
        {csv + "1,2026-02-01T10:00:00.000,1,2,3,4", "no samples"},  // the only line is cut
        {csv + "1,2026-02-01T10:00:00.000,\"1\",2,3,4\r\n", "channel 1"},
        {"Number,Time,\"A\r\nB\",C,D\r\n" + goodCsv, "names 4 columns"},
        {"\tTime\tA\tB\tC\tD", "does not end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        for (unsigned threads : {1u, 2u}) {
            recording::ReadOptions options;
            options.threads = threads;
            const auto outcome = readRecordingBytes(c.bytes, options);
            EXPECT_FALSE(outcome.recording);
            EXPECT_NE(outcome.error.find(c.error), std::string::npos) << outcome.error;
        }
    }
    // The good lines themselves read, with either separator in the export text.
    const auto r = read(asc + good);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->value(1, 0), 2.0);
    EXPECT_EQ(r->value(3, 0), -4.5);
    const auto quoted = read("Number,Time,\"A, \"\"the\"\"\",B,C,D\r\n" + goodCsv);
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->captions()[1], "A, \"the\"");
}

// A fault deep in a long file is found by whichever thread parses it, and
// the first fault of the file is the one reported.
TEST(Recording, ReportsTheFirstFaultWhicheverThreadFindsIt) {
    const auto rows = makeRows(30000, 3);
    std::string text = fileText(Writer::Csv, rows);
    auto lineStart = [&](std::size_t line) {
        std::size_t at = 0;
        for (std::size_t i = 1; i < line; ++i)
            at = text.find('\n', at) + 1;
        return at;
    };
    text[lineStart(25000) + 2] = 'x';
    text[lineStart(9000) + 1] = ';';
    for (unsigned threads : {1u, 2u, 4u}) {
        recording::ReadOptions options;
        options.threads = threads;
        const auto outcome = readRecordingBytes(text, options);
        EXPECT_EQ(outcome.error.substr(0, 10), "line 9000:") << outcome.error;
    }
}

TEST(Recording, ReportsProgressAndStopsWhenCancelled) {
    const std::string text = fileText(Writer::Csv, makeRows(60000, 4));
    std::vector<double> shares;
    recording::ReadOptions options;
    options.threads = 2;
    options.progress = [&](double share) { shares.push_back(share); };
    ASSERT_TRUE(readRecordingBytes(text, options).recording);
    ASSERT_FALSE(shares.empty());
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.back(), 1.0);

    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    const auto cancelled = readRecordingBytes(text, options);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.recording);
}

// Every stretch: the statistics print as ComputeStatistics prints them over
// the same rows, and the extremes are those of the rows.
TEST(Recording, StatisticsAndExtremesOfAnyStretchMatchTheRows) {
    const auto rows = makeRows(70000, 5);
    const auto r = read(fileText(Writer::Csv, rows));
    ASSERT_TRUE(r);
    std::mt19937_64 random(6);
    std::vector<std::pair<uint64_t, uint64_t>> stretches = {
        {0, rows.size()}, {0, 1}, {4095, 4097}, {4096, 8192}, {63, 65}, {1, rows.size() - 1},
        {65536, 65536 + 4096}, {rows.size() - 1, rows.size()}};
    for (int i = 0; i < 300; ++i) {
        const uint64_t a = random() % rows.size();
        const uint64_t length = 1 + random() % (i % 3 == 0 ? 100 : rows.size() - a);
        stretches.emplace_back(a, std::min<uint64_t>(rows.size(), a + length));
    }
    for (const auto& [from, to] : stretches) {
        SCOPED_TRACE(std::to_string(from) + ".." + std::to_string(to));
        const std::vector<acquisition::SampleRow> part(rows.begin() + static_cast<long>(from),
                                                       rows.begin() + static_cast<long>(to));
        ASSERT_EQ(cells(r->statistics(from, to)), cells(analysis::ComputeStatistics(part)));
        for (int k = 0; k < 4; ++k) {
            const auto [lo, hi] = std::minmax_element(part.begin(), part.end(), [k](auto& x, auto& y) {
                return x.channel[k] < y.channel[k];
            });
            const auto e = r->extremes(k, from, to);
            ASSERT_EQ(Recording::toValue(e.min), lo->channel[k]);
            ASSERT_EQ(Recording::toValue(e.max), hi->channel[k]);
        }
    }
}

// A stretch of at most 10240 samples becomes exactly its rows, gap and odd
// rate included, with the statistics the recording gives for it; a longer
// one gives the zoom factor and a span that no view of the run can hold
// more samples in than the memory takes.
TEST(RecordingStretch, TakesWhatFitsAndSaysHowFarToZoomOtherwise) {
    const auto rows = makeRows(40000, 7, 3, 25000, 5000);
    const auto r = read(fileText(Writer::Csv, rows));
    ASSERT_TRUE(r);
    constexpr uint64_t kLimit = acquisition::kMemoryCapacity;
    const std::pair<uint64_t, uint64_t> stretches[] = {
        {0, 0},          {0, 1},          {100, 100 + kLimit}, {20000, 20000 + kLimit},
        {24990, 25010},  {39999, 40000},  {0, kLimit + 1},     {20000, 40000},
        {0, 40000},      {30000, 50000}};
    for (const auto& [from, to] : stretches) {
        SCOPED_TRACE(std::to_string(from) + ".." + std::to_string(to));
        const auto stretch = recording::stretchToMemory(*r, from, to);
        const uint64_t n = std::min<uint64_t>(to, rows.size()) - from;
        ASSERT_EQ(stretch.samples, n);
        ASSERT_EQ(stretch.fits, n <= kLimit);
        if (stretch.fits) {
            ASSERT_EQ(stretch.rows.size(), n);
            for (uint64_t i = 0; i < n; ++i) {
                ASSERT_EQ(stretch.rows[i].timeMs, rows[from + i].timeMs);
                for (int k = 0; k < 4; ++k)
                    ASSERT_EQ(stretch.rows[i].channel[k], rows[from + i].channel[k]);
            }
            if (n > 0) {
                ASSERT_EQ(cells(analysis::ComputeStatistics(stretch.rows)),
                          cells(r->statistics(from, to)));
            }
            continue;
        }
        ASSERT_TRUE(stretch.rows.empty());
        ASSERT_DOUBLE_EQ(stretch.zoomFactor, static_cast<double>(n) / kLimit);
        // Every view of that span, start and end included, anywhere in the run.
        for (uint64_t first = 0; first < rows.size(); first += 997) {
            const double start = rows[first].timeMs;
            const uint64_t held = r->lowerBound(std::floor(start + stretch.fittingSpanMs) + 1) -
                                  r->lowerBound(start);
            ASSERT_LE(held, kLimit) << "from sample " << first;
        }
    }
}

// An export stopped part-way, by Cancel or a failed write, leaves the old
// file whole and no temporary file behind; one that goes on reports its way
// up to the whole.
TEST(RecordingStretch, AnExportStoppedPartWayLeavesTheOldFile) {
    const auto rows = makeRows(60000, 9);
    const auto r = read(fileText(Writer::Csv, rows));
    ASSERT_TRUE(r);
    test::TempDir dir;
    const auto names = [&dir] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            found.push_back(entry.path().filename().string());
        return found;
    };
    for (const auto format : {recording::StretchFormat::ExportText, recording::StretchFormat::Csv}) {
        const std::string path = dir.file("stretch.txt");
        ASSERT_TRUE(common::writeFileAtomically(path, "old"));
        std::atomic<bool> cancel{false};
        std::vector<double> shares;
        recording::ExportOptions options;
        options.cancel = &cancel;
        options.progress = [&](double share) {
            shares.push_back(share);
            if (share > 0.3)
                cancel = true;  // Cancel pressed while it writes
        };
        const auto stopped = recording::exportStretch(*r, 0, r->size(), format, path, '.', options);
        EXPECT_EQ(stopped.result, recording::StretchExport::Result::Cancelled);
        EXPECT_GT(shares.size(), 1u);
        EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
        EXPECT_EQ(test::readFile(path), "old");
        EXPECT_EQ(names(), std::vector<std::string>{"stretch.txt"});

        shares.clear();
        options.cancel = nullptr;
        const auto whole = recording::exportStretch(*r, 0, r->size(), format, path, '.', options);
        EXPECT_EQ(whole.result, recording::StretchExport::Result::Written);
        EXPECT_EQ(shares.back(), 1.0);
        EXPECT_EQ(test::readFile(path).substr(0, 1), format == recording::StretchFormat::Csv ? "N" : "\t");
    }
    // A producer that gives up after its first piece: the same.
    const std::string path = dir.file("stretch.txt");
    ASSERT_TRUE(common::writeFileAtomically(path, "old"));
    std::string error;
    EXPECT_FALSE(common::writeFileAtomicallyFrom(
        path,
        [](const common::ByteSink& sink) {
            if (!sink(std::string(3 << 20, 'x')))
                return false;
            errno = ENOSPC;
            return false;
        },
        &error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"stretch.txt"});
}

// The deviation of values far from zero with a tiny spread stays exact
// where the one-pass formula would cancel.
TEST(Recording, DeviationOfALargeOffsetIsExact) {
    std::vector<acquisition::SampleRow> rows;
    for (int i = 0; i < 10000; ++i)
        rows.push_back(test::makeRow(999999999.0 + (i % 2) * 0.00002, 5, 5, 5, 1000.0 * i));
    const auto r = read(fileText(Writer::Csv, rows));
    ASSERT_TRUE(r);
    const auto s = r->statistics(0, rows.size());
    EXPECT_NEAR(*s.channels[0].deviation, 0.00001 * std::sqrt(10000.0 / 9999.0), 1e-15);
    EXPECT_EQ(*s.channels[1].deviation, 0.0);
    EXPECT_EQ(analysis::statisticCellText(s, 0, analysis::StatisticRow::Average, '.'),
              "999999999.00001");
}

TEST(Recording, EnvelopeColumnsHoldTheirSamplesExtremesAndGapsShow) {
    // 2 ms steps, and 1000 ms missing before sample 30000.
    const auto rows = makeRows(50000, 7, 2, 30000, 1000);
    const auto r = read(fileText(Writer::ExportComma, rows));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->usualStepMs(), 2);
    EXPECT_EQ(r->gaps(), std::vector<uint64_t>{30000});
    EXPECT_TRUE(r->gapBetween(29999, 30000));
    EXPECT_FALSE(r->gapBetween(30000, 30001));
    const double start = rows.front().timeMs, end = rows.back().timeMs;
    for (int columns : {1, 7, 640, 1920, 200000}) {
        for (auto [from, to] : {std::pair{start, end}, std::pair{start + 59000, start + 61500},
                                std::pair{start - 100, start + 10}}) {
            const auto envelope = r->envelope(from, to, columns);
            ASSERT_EQ(envelope.size(), static_cast<std::size_t>(columns));
            const double width = (to - from) / columns;
            uint64_t expectedFrom = r->lowerBound(from);
            for (int c = 0; c < columns; ++c) {
                const auto& column = envelope[static_cast<std::size_t>(c)];
                ASSERT_EQ(column.from, expectedFrom);
                for (uint64_t i = column.from; i < column.to; ++i) {
                    const double t = rows[i].timeMs;
                    ASSERT_TRUE(t >= from + c * width && (t < from + (c + 1) * width || c + 1 == columns));
                }
                if (!column.empty()) {
                    for (int k = 0; k < 4; ++k) {
                        double lo = 1e300, hi = -1e300;
                        for (uint64_t i = column.from; i < column.to; ++i)
                            lo = std::min(lo, rows[i].channel[k]), hi = std::max(hi, rows[i].channel[k]);
                        ASSERT_EQ(Recording::toValue(column.channel[k].min), lo);
                        ASSERT_EQ(Recording::toValue(column.channel[k].max), hi);
                    }
                }
                expectedFrom = column.to;
            }
            ASSERT_EQ(expectedFrom, std::min<uint64_t>(r->lowerBound(to + 1), r->size()));
        }
    }
    // Zoomed onto the gap, the columns inside it are empty.
    const double gapStart = rows[29999].timeMs;
    const auto zoomed = r->envelope(gapStart - 100, gapStart + 1100, 120);
    EXPECT_FALSE(zoomed[5].empty());
    for (int c = 11; c < 109; ++c)
        EXPECT_TRUE(zoomed[static_cast<std::size_t>(c)].empty()) << c;
    EXPECT_FALSE(zoomed[115].empty());
}

TEST(Recording, HoldsASampleInFarFewerBytesThanTheFile) {
    const auto rows = makeRows(200000, 8);
    const std::string text = fileText(Writer::Csv, rows);
    const auto r = read(text);
    ASSERT_TRUE(r);
    const double perSample = static_cast<double>(r->memoryBytes()) / static_cast<double>(r->size());
    EXPECT_LT(perSample, 24.0);
    RecordProperty("bytes_per_sample", std::to_string(perSample));
}

// A run split into parts as the recorder splits it: each part a file of its
// own with the header and its lines numbered from 1. `cuts` are the samples
// that begin the parts after the first.
std::vector<std::string> writeParts(const test::TempDir& dir, Writer writer,
                                    const std::vector<acquisition::SampleRow>& rows,
                                    const std::vector<std::size_t>& cuts) {
    std::vector<std::string> paths;
    std::size_t from = 0;
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const std::size_t to = k < cuts.size() ? cuts[k] : rows.size();
        char name[32];
        std::snprintf(name, sizeof name, "run-%04zu.%s", k + 1, writer == Writer::Csv ? "csv" : "asc");
        paths.push_back(dir.file(name));
        test::writeFile(paths.back(), fileText(writer, {rows.begin() + static_cast<long>(from),
                                                        rows.begin() + static_cast<long>(to)}));
        from = to;
    }
    return paths;
}

// Wherever the run was cut, and in whatever order its parts are named, the
// parts read as the unsplit file: the same samples, statistics and gaps, a
// gap only where time is missing (also one that falls on a cut).
TEST(SplitRun, PartsReadAsTheUnsplitRun) {
    // 2 ms steps, 800 ms missing before sample 20000.
    const auto rows = makeRows(30000, 9, 2, 20000, 800);
    const std::vector<std::vector<std::size_t>> cutSets = {
        {10000, 20000},  // the second cut on the gap
        {4096, 8192},    // on block boundaries
        {1, 29999},      // parts of one sample
        {4095, 4097},    // a part of two samples inside one block
        {12345, 23456},
    };
    for (Writer writer : {Writer::Csv, Writer::ExportComma}) {
        const auto whole = read(fileText(writer, rows));
        ASSERT_TRUE(whole);
        for (const auto& cuts : cutSets) {
            test::TempDir dir;
            auto paths = writeParts(dir, writer, rows, cuts);
            std::reverse(paths.begin(), paths.end());
            const auto order = recording::orderSplitRun(paths);
            ASSERT_EQ(order.fault, RunFault::None);
            ASSERT_EQ(order.paths.front(), dir.file(writer == Writer::Csv ? "run-0001.csv" : "run-0001.asc"));
            for (unsigned threads : {1u, 2u, 3u, 7u}) {
                SCOPED_TRACE(std::to_string(cuts[0]) + " " + std::to_string(threads));
                recording::ReadOptions options;
                options.threads = threads;
                const auto outcome = readRecordingFiles(order.paths, options);
                ASSERT_TRUE(outcome.recording) << outcome.error;
                const auto& r = *outcome.recording;
                ASSERT_EQ(r.size(), whole->size());
                for (uint64_t i = 0; i < r.size(); ++i) {
                    ASSERT_EQ(r.timeMs(i), whole->timeMs(i)) << i;
                    for (int k = 0; k < 4; ++k)
                        ASSERT_EQ(r.units(k, i), whole->units(k, i)) << i;
                }
                EXPECT_EQ(r.gaps(), std::vector<uint64_t>{20000});
                EXPECT_EQ(r.usualStepMs(), 2);
                EXPECT_EQ(cells(r.statistics(0, r.size())), cells(whole->statistics(0, r.size())));
                EXPECT_EQ(cells(r.statistics(cuts[0] - 1, cuts[1] + 1)),
                          cells(whole->statistics(cuts[0] - 1, cuts[1] + 1)));
                EXPECT_EQ(r.extremes(1, 0, r.size()).max, whole->extremes(1, 0, r.size()).max);
            }
        }
    }
}

// Sets of files that are not the consecutive parts of one run are refused
// with the file that does not fit; the others are put in the run's order.
TEST(SplitRun, OrdersTheFilesOfOneRunAndNamesTheOneThatDoesNotFit) {
    using V = std::vector<std::string>;
    const struct {
        V paths;
        RunFault fault;
        std::string file;
        V order;
    } cases[] = {
        {{"d/run-0002.csv", "d/run-0003.csv", "d/run-0001.csv"}, RunFault::None, "",
         {"d/run-0001.csv", "d/run-0002.csv", "d/run-0003.csv"}},
        {{"d/run-10000.csv", "./d/run-9999.csv"}, RunFault::None, "", {"./d/run-9999.csv", "d/run-10000.csv"}},
        {{"d/run-0006.csv.part", "d/run-0005.csv"}, RunFault::None, "",
         {"d/run-0005.csv", "d/run-0006.csv.part"}},
        {{"run-0002", "run-0001"}, RunFault::None, "", {"run-0001", "run-0002"}},
        {{"d/a.csv"}, RunFault::None, "", {"d/a.csv"}},
        {{"d/run-0001.csv", "d/run-0003.csv"}, RunFault::Missing, "d/run-0002.csv", {}},
        {{"d/run-0001.csv", "d/other-0002.csv"}, RunFault::OtherRun, "d/other-0002.csv", {}},
        {{"d/run-0001.csv", "e/run-0002.csv"}, RunFault::OtherRun, "e/run-0002.csv", {}},
        {{"d/run-0001.csv", "d/run-0002.asc"}, RunFault::OtherRun, "d/run-0002.asc", {}},
        {{"d/run-0001.csv", "d/run-0001.csv"}, RunFault::Twice, "d/run-0001.csv", {}},
        {{"d/run-0002.csv", "d/run-0001.csv", "d/run-0002.csv.part"}, RunFault::Twice, "d/run-0002.csv", {}},
        {{"d/run-0001.csv", "d/run.csv"}, RunFault::NotAPart, "d/run.csv", {}},
        {{"d/a.csv", "d/b.csv"}, RunFault::NotAPart, "d/a.csv", {}},
        {{"d/run-001.csv", "d/run-002.csv"}, RunFault::NotAPart, "d/run-001.csv", {}},
        {{"d/run-0001.csv.part", "d/run-0002.csv"}, RunFault::Unfinished, "d/run-0001.csv.part", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paths.front() + " " + c.paths.back());
        const auto order = recording::orderSplitRun(c.paths);
        EXPECT_EQ(order.fault, c.fault);
        EXPECT_EQ(order.file, c.file);
        EXPECT_EQ(order.paths, c.order);
    }
}

// What only the files' contents tell: a part of another run, a part cut
// short before the last, a faulty line; the message names the file and its
// own line.
TEST(SplitRun, RefusesPartsWhoseContentsDoNotJoin) {
    const auto rows = makeRows(9000, 10);
    const struct {
        const char* what;
        std::function<void(std::vector<std::string>&)> spoil;
        std::string error;
    } cases[] = {
        {"other captions",
         [](auto& parts) { parts[1].replace(parts[1].find("Kraft"), 5, "Druck"); },
         "run-0002.csv: its header differs from that of run-0001.csv"},
        {"earlier times",
         [&](auto& parts) { parts[2] = fileText(Writer::Csv, {rows.begin(), rows.begin() + 10}); },
         "run-0003.csv, line 2: the time goes back"},
        {"middle part cut", [](auto& parts) { parts[1].resize(parts[1].size() - 5); },
         "run-0002.csv: it ends inside a line"},
        {"faulty line", [](auto& parts) { parts[1][parts[1].find("\n1,") + 3] = 'x'; },
         "run-0002.csv, line 2: the time"},
        {"other format", [&](auto& parts) { parts[1] = fileText(Writer::ExportPoint, {rows[4000]}); },
         "run-0002.csv: its header differs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> parts;
        for (auto [from, to] : {std::pair{0, 3000}, std::pair{3000, 6000}, std::pair{6000, 9000}})
            parts.push_back(fileText(Writer::Csv, {rows.begin() + from, rows.begin() + to}));
        c.spoil(parts);
        test::TempDir dir;
        std::vector<std::string> paths;
        for (std::size_t k = 0; k < parts.size(); ++k) {
            paths.push_back(dir.file("run-000" + std::to_string(k + 1) + ".csv"));
            test::writeFile(paths.back(), parts[k]);
        }
        for (unsigned threads : {1u, 2u}) {
            recording::ReadOptions options;
            options.threads = threads;
            const auto outcome = readRecordingFiles(paths, options);
            EXPECT_FALSE(outcome.recording);
            EXPECT_NE(outcome.error.find(c.error), std::string::npos) << outcome.error;
        }
    }
    test::TempDir dir;
    EXPECT_EQ(readRecordingFiles({dir.file("run-0001.csv"), dir.file("run-0002.csv")}).error.substr(0, 14),
              "run-0001.csv: ");
}

}  // namespace
