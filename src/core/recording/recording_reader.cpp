#include "recording/recording_reader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/encoding.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvelo::recording {

namespace {

constexpr std::size_t kBlock = PackedColumn::kBlockSize;
// Steps below this many milliseconds are counted in a table; longer ones kept.
constexpr std::size_t kStepTable = 4096;

struct Fault {
    uint64_t line = std::numeric_limits<uint64_t>::max();  // 1-based line of the file
    std::string reason;
};

// --- header ----------------------------------------------------------------

// One RFC 4180 record starting at `p`: its fields, and where the next line
// starts (npos when the record does not end).
std::size_t csvRecord(std::string_view text, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                fields.back() += '"', ++i;
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '\n') {
            if (!fields.back().empty() && fields.back().back() == '\r')
                fields.back().pop_back();
            return i + 1;
        } else {
            fields.back() += c;
        }
    }
    return std::string_view::npos;
}

// The format, the captions and the length of the header; false with the reason.
bool readHeader(std::string_view bytes, RecordingFormat& format, std::array<std::string, 5>& captions,
                std::size_t& length, std::string& error) {
    std::vector<std::string> fields;
    if (bytes.empty()) {
        error = "the file is empty";
        return false;
    }
    if (bytes.front() == '\t') {
        format = RecordingFormat::ExportText;
        const std::size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            error = "the header line does not end";
            return false;
        }
        std::string_view line = bytes.substr(1, end - 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t from = 0;
        for (std::size_t at; (at = line.find('\t', from)) != std::string_view::npos; from = at + 1)
            fields.emplace_back(line.substr(from, at - from));
        fields.emplace_back(line.substr(from));
        for (auto& field : fields)
            field = common::cp1252ToUtf8(field);
        length = end + 1;
    } else if (bytes.starts_with("Number,")) {
        format = RecordingFormat::Csv;
        length = csvRecord(bytes, fields);
        if (length == std::string_view::npos) {
            error = "the header line does not end";
            return false;
        }
        fields.erase(fields.begin());
    } else {
        error =
            "not a recording of this program: the first line is neither the header of the "
            "export text (.asc) nor that of tarvelo-cli's .csv";
        return false;
    }
    if (fields.size() != 5) {
        error = "the header names " + std::to_string(fields.size()) +
                " columns, not the time and four channels";
        return false;
    }
    std::copy(fields.begin(), fields.end(), captions.begin());
    return true;
}

// --- sample lines ----------------------------------------------------------

inline unsigned digit(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Two or more digits at p as a number; false when one is not a digit.
template <int N>
inline bool digits(const char* p, int& out) {
    int value = 0;
    for (int i = 0; i < N; ++i) {
        const unsigned d = digit(p[i]);
        if (d > 9)
            return false;
        value = value * 10 + static_cast<int>(d);
    }
    out = value;
    return true;
}

class LineParser {
public:
    explicit LineParser(RecordingFormat format) : format_(format) {}

    // Parses the line at p into the time and the values and returns where
    // the next line starts; nullptr with the reason when it is not a sample
    // line. The bytes are read in order and only up to the first that does
    // not fit, so a line that ends ('\n') bounds every read.
    const char* parse(const char* p, int64_t& time, int64_t* values, std::string& reason) {
        const char separator = format_ == RecordingFormat::Csv ? ',' : '\t';
        // The sample's number.
        const char* start = p;
        while (digit(*p) <= 9)
            ++p;
        if (p == start || *p != separator) {
            reason = "not a sample line";
            return nullptr;
        }
        ++p;
        if (!(format_ == RecordingFormat::Csv ? isoTime(p, time) : exportTime(p, time)) ||
            p[23] != separator) {
            reason = "the time is missing or cannot be read";
            return nullptr;
        }
        p += 24;
        for (int k = 0; k < 4; ++k) {
            if (!value(p, values[k], reason)) {
                reason = "channel " + std::to_string(k + 1) + ": " + reason;
                return nullptr;
            }
            // The export text ends every value with a tab, the CSV all but the last.
            if (*p == separator && (k < 3 || format_ == RecordingFormat::ExportText)) {
                ++p;
            } else if (k < 3) {
                reason = "channel " + std::to_string(k + 2) + " is missing";
                return nullptr;
            }
        }
        if (*p == '\r')
            ++p;
        if (*p != '\n') {
            reason = "more than four values";
            return nullptr;
        }
        return p + 1;
    }

private:
    // Milliseconds of the day, from "hh?mm?ss.mmm".
    static bool timeOfDay(const char* p, char separator, int64_t& ms) {
        int h, m, s, milli;
        if (!digits<2>(p, h) || p[2] != separator || !digits<2>(p + 3, m) || p[5] != separator ||
            !digits<2>(p + 6, s) || p[8] != '.' || !digits<3>(p + 9, milli) || h > 23 || m > 59 ||
            s > 59)
            return false;
        ms = ((h * 60 + m) * 60 + s) * int64_t{1000} + milli;
        return true;
    }

    // Milliseconds of the day's start, the last date's kept: a recording has
    // many samples a day.
    bool dayStart(int year, int month, int day, int64_t& ms) {
        const int key = (year * 16 + month) * 32 + day;
        if (key != lastKey_) {
            const std::chrono::year_month_day date{std::chrono::year{year},
                                                   std::chrono::month{static_cast<unsigned>(month)},
                                                   std::chrono::day{static_cast<unsigned>(day)}};
            if (!date.ok() || year < 1970)
                return false;
            lastKey_ = key;
            lastDayMs_ = std::chrono::sys_days(date).time_since_epoch().count() * int64_t{86400000};
        }
        ms = lastDayMs_;
        return true;
    }

    // "yyyy-mm-ddThh:mm:ss.mmm"
    bool isoTime(const char* p, int64_t& time) {
        int y, mo, d;
        int64_t day, ms;
        if (!digits<4>(p, y) || p[4] != '-' || !digits<2>(p + 5, mo) || p[7] != '-' ||
            !digits<2>(p + 8, d) || p[10] != 'T' || !timeOfDay(p + 11, ':', ms) ||
            !dayStart(y, mo, d, day))
            return false;
        time = day + ms;
        return true;
    }

    // "dd.mm.yyyy hh.mm.ss.mmm"
    bool exportTime(const char* p, int64_t& time) {
        int y, mo, d;
        int64_t day, ms;
        if (!digits<2>(p, d) || p[2] != '.' || !digits<2>(p + 3, mo) || p[5] != '.' ||
            !digits<4>(p + 6, y) || p[10] != ' ' || !timeOfDay(p + 11, '.', ms) ||
            !dayStart(y, mo, d, day))
            return false;
        time = day + ms;
        return true;
    }

    // A value with at most nine digits before and five after the point (the
    // export text's may be a comma), as a whole number of 1e-5; moves p past it.
    bool value(const char*& p, int64_t& units, std::string& reason) {
        const bool negative = *p == '-';
        if (negative)
            ++p;
        const char* start = p;
        int64_t whole = 0;
        for (unsigned d; (d = digit(*p)) <= 9 && p - start < 10; ++p)
            whole = whole * 10 + d;
        const auto wholeDigits = p - start;
        int64_t fraction = 0;
        long fractionDigits = 0;
        if (*p == '.' || (*p == ',' && format_ == RecordingFormat::ExportText)) {
            const char* first = ++p;
            for (unsigned d; p - first < 5 && (d = digit(*p)) <= 9; ++p)
                fraction = fraction * 10 + d;
            fractionDigits = p - first;
            if (digit(*p) <= 9) {
                reason = "more than five decimals";
                return false;
            }
        }
        if (wholeDigits + fractionDigits == 0) {
            reason = "not a number";
            return false;
        }
        if (wholeDigits > 9) {
            reason = "the value lies beyond 999999999.99999";
            return false;
        }
        static constexpr int64_t kScale[6] = {100000, 10000, 1000, 100, 10, 1};
        units = whole * kUnitsPerValue + fraction * kScale[fractionDigits];
        if (negative)
            units = -units;
        return true;
    }

    RecordingFormat format_;
    int lastKey_ = -1;
    int64_t lastDayMs_ = 0;
};

// --- the parallel reading --------------------------------------------------

// The line ends in [p, end), sixteen bytes at a time where the processor can.
uint64_t countLineEnds(const char* p, const char* end) {
    uint64_t count = 0;
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        // Up to 255 rounds counted in bytes, then summed.
        __m128i counts = zero;
        for (int round = 0; round < 255 && end - p >= 16; ++round, p += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(bytes, newline));
        }
        const __m128i sums = _mm_sad_epu8(counts, zero);
        count += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; p < end; ++p)
        count += *p == '\n';
    return count;
}

std::string lineText(uint64_t line) {
    return "line " + std::to_string(line);
}

// One file's bytes for the builder, and its name for the messages (empty
// when the recording is a single file).
struct Source {
    std::string_view bytes;
    std::string name;
};

}  // namespace

// Fills a Recording from the lines of one file, or of the files of a split
// run one after the other, block by block, from several threads at once:
// each parses whole blocks of 4096 lines into their own places, so no
// thread waits on another. A block may hold the end of one file and the
// start of the next.
class RecordingBuilder {
public:
    RecordingBuilder(std::vector<Source> sources, const ReadOptions& options)
        : sources_(std::move(sources)), options_(options) {}

    ReadOutcome run();

private:
    // The sample lines of one file (whole lines only).
    struct Segment {
        const char* begin = nullptr;
        const char* end = nullptr;
        uint64_t headerLines = 1;
        uint64_t firstSample = 0;
        uint64_t bytesBefore = 0;  // of the segments before
    };
    // A place in the sample lines: kept on a segment's start rather than on
    // the end of the one before, so that equal places compare equal.
    struct Place {
        std::size_t segment = 0;
        const char* p = nullptr;
        bool operator==(const Place&) const = default;
        bool operator<(const Place& other) const {
            return segment != other.segment ? segment < other.segment : p < other.p;
        }
    };
    struct Chunk {
        Place begin;
        Place end;
        uint64_t firstSample = 0;
        // Filled by its thread.
        Fault fault;  // `line` holds the sample's index
        std::vector<uint64_t> steps;  // steps of kStepTable ms or more
        std::array<uint64_t, kStepTable> stepTable{};
        std::vector<std::array<Recording::Sums, 4>> blockSums;
    };

    bool cancelled() const {
        return options_.cancel && options_.cancel->load(std::memory_order_relaxed);
    }
    void fault(Chunk& chunk, uint64_t sample, std::string reason) {
        chunk.fault = {sample, std::move(reason)};
        uint64_t known = faultSample_.load();
        while (sample < known && !faultSample_.compare_exchange_weak(known, sample)) {
        }
    }
    // Past empty segments and segment ends, but not past the last one's end.
    Place settle(Place place) const {
        while (place.p == segments_[place.segment].end && place.segment + 1 < segments_.size())
            place = {place.segment + 1, segments_[place.segment + 1].begin};
        return place;
    }
    // The place `offset` bytes into the sample lines of all the files.
    Place placeAt(uint64_t offset) const;
    // Where sample `index` is: its line, and with several files the file's name.
    std::string where(uint64_t index) const;
    bool readHeaders(ReadOutcome& outcome);
    void parseChunk(Chunk& chunk, ByteArena& arena);
    template <typename Work>
    void runChunks(Work work, double progressFrom, double progressTo);
    void findGaps();

    std::vector<Source> sources_;
    std::vector<Segment> segments_;
    const ReadOptions& options_;
    std::unique_ptr<Recording> recording_ = std::make_unique<Recording>();
    std::vector<Chunk> chunks_;
    // The first faulty sample found so far: a thread stops once past it.
    std::atomic<uint64_t> faultSample_{std::numeric_limits<uint64_t>::max()};
    std::atomic<uint64_t> done_{0};  // bytes or samples done in the current pass
    uint64_t doneGoal_ = 1;
    // Per-block scratch of the thread that parses it.
    struct Scratch {
        int64_t time[kBlock];
        int64_t values[4][kBlock];
    };
};

template <typename Work>
void RecordingBuilder::runChunks(Work work, double progressFrom, double progressTo) {
    done_ = 0;
    auto report = [&] {
        if (options_.progress)
            options_.progress(progressFrom + (progressTo - progressFrom) *
                                                 std::min(1.0, static_cast<double>(done_.load()) /
                                                                   static_cast<double>(doneGoal_)));
    };
    if (chunks_.size() == 1) {
        work(0);
        report();
        return;
    }
    // The calling thread reports the progress while the others work.
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = chunks_.size();
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < chunks_.size(); ++k) {
        threads.emplace_back([&, k] {
            work(k);
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    }
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            lock.unlock();
            report();
            lock.lock();
            finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return running == 0; });
        }
    }
    for (auto& thread : threads)
        thread.join();
    report();
}

RecordingBuilder::Place RecordingBuilder::placeAt(uint64_t offset) const {
    // The last segment that starts at or before `offset`, then past its end.
    auto after = std::upper_bound(segments_.begin(), segments_.end(), offset,
                                  [](uint64_t at, const Segment& s) { return at < s.bytesBefore; });
    const auto k = static_cast<std::size_t>(after - segments_.begin() - 1);
    return settle({k, segments_[k].begin + (offset - segments_[k].bytesBefore)});
}

std::string RecordingBuilder::where(uint64_t index) const {
    auto after = std::upper_bound(segments_.begin(), segments_.end(), index,
                                  [](uint64_t at, const Segment& s) { return at < s.firstSample; });
    // Empty segments share their first sample with the next: the last one counts.
    const auto k = static_cast<std::size_t>(after - segments_.begin() - 1);
    const std::string line = lineText(segments_[k].headerLines + (index - segments_[k].firstSample) + 1);
    return sources_.size() == 1 ? line : sources_[k].name + ", " + line;
}

bool RecordingBuilder::readHeaders(ReadOutcome& outcome) {
    auto& r = *recording_;
    uint64_t bytesBefore = 0;
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        const std::string_view bytes = sources_[k].bytes;
        const std::string prefix = sources_.size() == 1 ? std::string() : sources_[k].name + ": ";
        RecordingFormat format;
        std::array<std::string, 5> captions;
        std::size_t headerLength = 0;
        if (!readHeader(bytes, format, captions, headerLength, outcome.error)) {
            outcome.error = prefix + outcome.error;
            return false;
        }
        if (k == 0) {
            r.format_ = format;
            r.captions_ = captions;
        } else if (format != r.format_ || captions != r.captions_) {
            // The parts of one run are written with one header.
            outcome.error = prefix + "its header differs from that of " + sources_[0].name +
                            ": not a part of the same run";
            return false;
        }
        Segment segment;
        segment.headerLines = static_cast<uint64_t>(
            std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(headerLength), '\n'));
        segment.begin = bytes.data() + headerLength;
        const std::size_t lastNewline = bytes.rfind('\n');
        segment.end = std::max(segment.begin, bytes.data() + lastNewline + 1);
        const bool cut = segment.end != bytes.data() + bytes.size();
        if (cut && k + 1 < sources_.size()) {
            // Only the file still being written when a run ended can end
            // inside a line; in an earlier part that line would be lost.
            outcome.error = prefix + "it ends inside a line, and it is not the last part of the run";
            return false;
        }
        r.cutLastLine_ = cut;
        segment.bytesBefore = bytesBefore;
        bytesBefore += static_cast<uint64_t>(segment.end - segment.begin);
        segments_.push_back(segment);
    }
    return true;
}

void RecordingBuilder::parseChunk(Chunk& chunk, ByteArena& arena) {
    auto scratch = std::make_unique<Scratch>();
    LineParser parser(recording_->format_);
    Place place = chunk.begin;
    uint64_t index = chunk.firstSample;
    int64_t previous = std::numeric_limits<int64_t>::min();
    std::string reason;
    while (place != chunk.end) {
        if (cancelled() || index > faultSample_.load(std::memory_order_relaxed))
            return;
        uint64_t blockBytes = 0;
        std::size_t n = 0;
        while (n < kBlock && place != chunk.end) {
            int64_t values[4];
            int64_t time;
            const char* next = parser.parse(place.p, time, values, reason);
            if (!next) {
                fault(chunk, index + n, std::move(reason));
                return;
            }
            if (time < previous) {
                fault(chunk, index + n,
                      "the time goes back (" + std::to_string(previous) + " ms to " +
                          std::to_string(time) + " ms)");
                return;
            }
            if (previous != std::numeric_limits<int64_t>::min()) {
                const uint64_t step = static_cast<uint64_t>(time - previous);
                if (step < kStepTable)
                    ++chunk.stepTable[step];
                else
                    chunk.steps.push_back(step);
            }
            previous = time;
            scratch->time[n] = time;
            for (int k = 0; k < 4; ++k)
                scratch->values[k][n] = values[k];
            ++n;
            blockBytes += static_cast<uint64_t>(next - place.p);
            place = settle({place.segment, next});
        }
        // Pack the block and its envelope leaves and sums.
        const std::size_t block = static_cast<std::size_t>(index / kBlock);
        recording_->time_.setBlock(block, scratch->time, n, arena);
        auto& sums = chunk.blockSums[block - static_cast<std::size_t>(chunk.firstSample / kBlock)];
        for (int k = 0; k < 4; ++k) {
            const int64_t* v = scratch->values[k];
            recording_->values_[k].setBlock(block, v, n, arena);
            auto& leaves = recording_->levels_[k][0];
            for (std::size_t from = 0; from < n; from += Recording::kLeafSize) {
                const std::size_t to = std::min(n, from + Recording::kLeafSize);
                int64_t lo = v[from], hi = v[from];
                for (std::size_t i = from + 1; i < to; ++i) {
                    lo = std::min(lo, v[i]);
                    hi = std::max(hi, v[i]);
                }
                leaves[(index + from) >> Recording::kLeafShift] = Extremes{lo, hi};
            }
            Int128 s1 = 0, s2 = 0;
            for (std::size_t i = 0; i < n; ++i) {
                s1 += v[i];
                s2 += static_cast<Int128>(v[i]) * v[i];
            }
            sums[k] = Recording::Sums{s1, s2};
        }
        index += n;
        done_.fetch_add(blockBytes, std::memory_order_relaxed);
    }
}

void RecordingBuilder::findGaps() {
    auto& r = *recording_;
    if (r.usualStepMs_ <= 0 || r.size_ < 2)
        return;
    const int64_t limit = 2 * r.usualStepMs_;
    // Each block's span tells whether it can hold a gap at all.
    std::vector<int64_t> buffer(kBlock + 1);
    for (std::size_t b = 0; b < r.time_.blockCount(); ++b) {
        const uint64_t from = b == 0 ? 0 : b * kBlock - 1;
        const uint64_t to = std::min<uint64_t>(r.size_, (b + 1) * kBlock);
        const int64_t first = r.time_.at(from);
        const int64_t last = r.time_.at(to - 1);
        if (last - first <= limit)
            continue;
        r.time_.decode(from, to, buffer.data());
        for (uint64_t i = 1; i < to - from; ++i) {
            if (buffer[i] - buffer[i - 1] > limit)
                r.gaps_.push_back(from + i);
        }
    }
}

ReadOutcome RecordingBuilder::run() {
    ReadOutcome outcome;
    auto& r = *recording_;
    if (!readHeaders(outcome))
        return outcome;
    const Place dataEnd{segments_.size() - 1, segments_.back().end};

    // 1. Count the lines of equal shares of the bytes, in parallel, per file.
    const uint64_t dataBytes =
        segments_.back().bytesBefore + static_cast<uint64_t>(dataEnd.p - segments_.back().begin);
    // One thread per processor, but none for less than a megabyte; as many
    // as asked for when asked.
    unsigned threads = options_.threads;
    if (threads == 0)
        threads = std::min<unsigned>(std::thread::hardware_concurrency(),
                                     static_cast<unsigned>(dataBytes / (1 << 20) + 1));
    threads = std::max(1u, threads);
    chunks_.resize(threads);
    for (unsigned k = 0; k < threads; ++k) {
        chunks_[k].begin = placeAt(dataBytes * k / threads);
        chunks_[k].end = k + 1 < threads ? placeAt(dataBytes * (k + 1) / threads) : dataEnd;
    }
    // lineCounts[k][s]: the line ends of share k in file s.
    std::vector<std::vector<uint64_t>> lineCounts(threads, std::vector<uint64_t>(segments_.size()));
    doneGoal_ = std::max<uint64_t>(1, dataBytes);
    runChunks(
        [&](std::size_t k) {
            const Place begin = chunks_[k].begin, end = chunks_[k].end;
            for (std::size_t s = begin.segment; s <= end.segment; ++s) {
                const char* p = s == begin.segment ? begin.p : segments_[s].begin;
                const char* stop = s == end.segment ? end.p : segments_[s].end;
                uint64_t count = 0;
                while (p < stop) {
                    const char* piece = std::min(stop, p + (4 << 20));
                    const char* start = p;
                    count += countLineEnds(p, piece);
                    done_.fetch_add(static_cast<uint64_t>(piece - start), std::memory_order_relaxed);
                    p = piece;
                    if (cancelled())
                        return;
                }
                lineCounts[k][s] = count;
            }
        },
        0.0, 0.1);
    if (cancelled()) {
        outcome.cancelled = true;
        return outcome;
    }

    // 2. Number the files' samples, and move each share's start to the line
    // that begins a block of 4096.
    uint64_t total = 0;
    for (std::size_t s = 0; s < segments_.size(); ++s) {
        segments_[s].firstSample = total;
        for (unsigned k = 0; k < threads; ++k)
            total += lineCounts[k][s];
    }
    if (total > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        outcome.error = "the recording holds more than 2147483647 samples";
        return outcome;
    }
    if (total == 0) {
        outcome.error = "the recording holds no samples";
        return outcome;
    }
    for (unsigned k = 1; k < threads; ++k) {
        // The share starts in line `line` of its file: the one that begins
        // after the last line end before the share.
        const Place start = chunks_[k].begin;
        const Segment& segment = segments_[start.segment];
        uint64_t line = segment.firstSample;
        for (unsigned j = 0; j < k; ++j)
            line += lineCounts[j][start.segment];
        const void* before =
            ::memrchr(segment.begin, '\n', static_cast<std::size_t>(start.p - segment.begin));
        Place p{start.segment, before ? static_cast<const char*>(before) + 1 : segment.begin};
        const uint64_t target = std::min(total, (line + kBlock - 1) / kBlock * kBlock);
        for (p = settle(p); line < target; ++line) {
            const auto* end = segments_[p.segment].end;
            p = settle({p.segment, static_cast<const char*>(std::memchr(
                                       p.p, '\n', static_cast<std::size_t>(end - p.p))) + 1});
        }
        chunks_[k].begin = std::max(p, chunks_[k - 1].begin);
        chunks_[k].firstSample = std::max(target, chunks_[k - 1].firstSample);
        chunks_[k - 1].end = chunks_[k].begin;
    }
    chunks_.back().end = dataEnd;

    // 3. Parse every block.
    r.size_ = total;
    const std::size_t blocks = static_cast<std::size_t>((total + kBlock - 1) / kBlock);
    r.time_.resize(blocks);
    for (int k = 0; k < 4; ++k) {
        r.values_[k].resize(blocks);
        r.levels_[k].assign(1, std::vector<Extremes>((total + Recording::kLeafSize - 1) /
                                                     Recording::kLeafSize));
    }
    for (unsigned k = 0; k < threads; ++k) {
        r.arenas_.push_back(std::make_unique<ByteArena>());
        const uint64_t next = k + 1 < threads ? chunks_[k + 1].firstSample : total;
        const uint64_t first = chunks_[k].firstSample;
        chunks_[k].blockSums.resize(
            next > first ? static_cast<std::size_t>((next + kBlock - 1) / kBlock - first / kBlock) : 0);
    }
    runChunks([&](std::size_t k) { parseChunk(chunks_[k], *r.arenas_[k]); }, 0.1, 0.95);
    const Fault* first = nullptr;
    for (const auto& chunk : chunks_) {
        if (!chunk.fault.reason.empty() && (!first || chunk.fault.line < first->line))
            first = &chunk.fault;
    }
    if (first) {
        outcome.error = where(first->line) + ": " + first->reason;
        return outcome;
    }
    if (cancelled()) {
        outcome.cancelled = true;
        return outcome;
    }
    // Where two shares meet, the time must not go back either.
    for (unsigned k = 1; k < threads; ++k) {
        const uint64_t at = chunks_[k].firstSample;
        if (at == 0 || at >= total)
            continue;
        const int64_t before = r.time_.at(at - 1), after = r.time_.at(at);
        if (after < before) {
            outcome.error = where(at) + ": the time goes back (" + std::to_string(before) +
                            " ms to " + std::to_string(after) + " ms)";
            return outcome;
        }
        const uint64_t step = static_cast<uint64_t>(after - before);
        if (step < kStepTable)
            ++chunks_[k].stepTable[step];
        else
            chunks_[k].steps.push_back(step);
    }
    // 4. Running sums, the upper envelope levels, the usual step and the gaps.
    for (int k = 0; k < 4; ++k) {
        auto& prefix = r.prefix_[k];
        prefix.assign(blocks + 1, Recording::Sums{});
        std::size_t b = 0;
        for (const auto& chunk : chunks_) {
            for (const auto& sums : chunk.blockSums) {
                prefix[b + 1].s1 = prefix[b].s1 + sums[k].s1;
                prefix[b + 1].s2 = prefix[b].s2 + sums[k].s2;
                ++b;
            }
        }
    }
    r.buildUpperLevels();
    std::array<uint64_t, kStepTable> table{};
    std::vector<uint64_t> longSteps;
    for (auto& chunk : chunks_) {
        for (std::size_t s = 0; s < kStepTable; ++s)
            table[s] += chunk.stepTable[s];
        longSteps.insert(longSteps.end(), chunk.steps.begin(), chunk.steps.end());
        chunk.steps = {};
    }
    uint64_t positive = longSteps.size();
    for (std::size_t s = 1; s < kStepTable; ++s)
        positive += table[s];
    if (positive > 0) {
        uint64_t rank = (positive - 1) / 2;  // the lower median
        std::size_t s = 1;
        for (; s < kStepTable && rank >= table[s]; ++s)
            rank -= table[s];
        if (s < kStepTable) {
            r.usualStepMs_ = static_cast<int64_t>(s);
        } else {
            std::nth_element(longSteps.begin(), longSteps.begin() + static_cast<std::ptrdiff_t>(rank),
                             longSteps.end());
            r.usualStepMs_ = static_cast<int64_t>(longSteps[rank]);
        }
    }
    findGaps();
    if (options_.progress)
        options_.progress(1.0);
    outcome.recording = std::move(recording_);
    return outcome;
}

namespace {

// A file mapped into memory, unmapped when it goes.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile() {
        if (map_)
            ::munmap(map_, size_);
    }

    // False with the reason.
    bool open(const std::string& path, std::string& error) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            error = S_ISDIR(status.st_mode) ? "a folder, not a file" : std::strerror(errno);
            ::close(fd);
            return false;
        }
        size_ = static_cast<std::size_t>(status.st_size);
        if (size_ == 0) {
            ::close(fd);
            return true;
        }
        void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED) {
            error = std::strerror(errno);
            return false;
        }
        map_ = map;
        ::madvise(map_, size_, MADV_SEQUENTIAL);
        return true;
    }
    std::string_view bytes() const {
        return map_ ? std::string_view(static_cast<const char*>(map_), size_) : std::string_view();
    }

private:
    void* map_ = nullptr;
    std::size_t size_ = 0;
};

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ReadOutcome readRecordingBytes(std::string_view bytes, const ReadOptions& options) {
    return RecordingBuilder({Source{bytes, {}}}, options).run();
}

ReadOutcome readRecording(const std::string& path, const ReadOptions& options) {
    MappedFile file;
    ReadOutcome outcome;
    if (!file.open(path, outcome.error))
        return outcome;
    return readRecordingBytes(file.bytes(), options);
}

ReadOutcome readRecordingFiles(const std::vector<std::string>& paths, const ReadOptions& options) {
    if (paths.size() == 1)
        return readRecording(paths.front(), options);
    ReadOutcome outcome;
    if (paths.empty()) {
        outcome.error = "no file";
        return outcome;
    }
    std::vector<std::unique_ptr<MappedFile>> files;
    std::vector<Source> sources;
    for (const auto& path : paths) {
        files.push_back(std::make_unique<MappedFile>());
        if (!files.back()->open(path, outcome.error)) {
            outcome.error = fileName(path) + ": " + outcome.error;
            return outcome;
        }
        sources.push_back({files.back()->bytes(), fileName(path)});
    }
    return RecordingBuilder(std::move(sources), options).run();
}

}  // namespace tarvelo::recording
