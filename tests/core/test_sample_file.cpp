#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition/measurement_memory.h"
#include "common/atomic_file.h"
#include "files/sample_file.h"
#include "support.h"

using namespace tarvelo;
using acquisition::kMemoryCapacity;
using acquisition::MeasurementMemory;
using acquisition::SampleRow;
using files::LoadError;

namespace {

SampleRow makeRow(int n) {
    SampleRow row{};
    for (int c = 0; c < 4; ++c)
        row.channel[c] = n * 10.0 + c + 0.25;
    row.timeMs = 1000.0 * n + 7;
    row.deviceFlag = static_cast<uint8_t>(n % 256);
    return row;
}

std::string rowBytes(const SampleRow& row) {
    return std::string(reinterpret_cast<const char*>(&row), sizeof row);
}

std::string header(int32_t count) {
    std::string out = "473.100";
    out.append(reinterpret_cast<const char*>(&count), 4);  // little-endian host
    return out;
}

void expectSameRow(const SampleRow& a, const SampleRow& b) {
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
}

}  // namespace

TEST(SampleFileBytes, EmptyMemoryIsMagicAndZeroCount) {
    MeasurementMemory memory;
    const std::string bytes = files::sampleFileBytes(memory);
    EXPECT_EQ(std::string("473.100\0\0\0\0", 11), bytes);
}

TEST(SampleFileBytes, RowsInOrderOfAcquisition) {
    MeasurementMemory memory;
    for (int n = 0; n < 3; ++n)
        memory.AppendSample(makeRow(n));
    const std::string bytes = files::sampleFileBytes(memory);
    ASSERT_EQ(155u, bytes.size());
    EXPECT_EQ(header(3) + rowBytes(makeRow(0)) + rowBytes(makeRow(1)) + rowBytes(makeRow(2)),
              bytes);
    // The layout at fixed offsets, not just "whatever the struct is".
    double value;
    std::memcpy(&value, bytes.data() + 11 + 48 + 8, 8);
    EXPECT_EQ(11.25, value);
    std::memcpy(&value, bytes.data() + 11 + 48 * 2 + 32, 8);
    EXPECT_EQ(2007.0, value);
    EXPECT_EQ(2, bytes[11 + 48 * 2 + 40]);
}

TEST(SampleFileBytes, WrappedMemoryStartsAtWritePositionAndLoadsBackUnwrapped) {
    test::TempDir dir;
    MeasurementMemory memory;
    for (int n = 0; n < kMemoryCapacity + 5; ++n)
        memory.AppendSample(makeRow(n));
    ASSERT_TRUE(memory.Wrapped());
    ASSERT_EQ(5, memory.WritePosition());

    const std::string path = dir.file("wrapped.dat");
    ASSERT_TRUE(files::saveSampleFile(path, memory));
    const std::string bytes = test::readFile(path);
    ASSERT_EQ(11u + 48u * kMemoryCapacity, bytes.size());
    EXPECT_EQ(header(kMemoryCapacity), bytes.substr(0, 11));
    // First the row at index 5 (the oldest), last the newest, at index 4.
    EXPECT_EQ(rowBytes(memory.row(5)), bytes.substr(11, 48));
    EXPECT_EQ(rowBytes(memory.row(4)), bytes.substr(bytes.size() - 48));

    const auto result = files::loadSampleFile(path);
    ASSERT_TRUE(result.ok()) << result.detail;
    ASSERT_EQ(static_cast<std::size_t>(kMemoryCapacity), result.rows.size());
    MeasurementMemory loaded;
    loaded.load(result.rows);
    EXPECT_FALSE(loaded.Wrapped());
    EXPECT_EQ(kMemoryCapacity, loaded.WritePosition());
    expectSameRow(memory.row(5), loaded.row(0));
    expectSameRow(makeRow(5), loaded.row(0));
    expectSameRow(makeRow(kMemoryCapacity + 4), loaded.row(kMemoryCapacity - 1));
}

TEST(SampleFileLoad, PaddingBytesAndTrailingBytesSurvive) {
    test::TempDir dir;
    SampleRow row = makeRow(1);
    std::memcpy(row.padding, "\x01\x02\x03\x04\x05\x06\xFF", 7);
    const std::string path = dir.file("padding.dat");
    test::writeFile(path, header(1) + rowBytes(row) + "trailing bytes of an old version");

    const auto result = files::loadSampleFile(path);
    ASSERT_TRUE(result.ok()) << result.detail;
    ASSERT_EQ(1u, result.rows.size());
    expectSameRow(row, result.rows[0]);

    // Saved again as held: the padding is written back unchanged.
    MeasurementMemory memory;
    memory.load(result.rows);
    EXPECT_EQ(header(1) + rowBytes(row), files::sampleFileBytes(memory));
}

TEST(SampleFileLoad, RejectsEveryMalformedFile) {
    test::TempDir dir;
    const std::string oneRow = rowBytes(makeRow(1));
    std::string wrongMagic = header(1) + oneRow;
    wrongMagic[6] = '1';  // "473.101"
    std::string zeroInMagic = header(1) + oneRow;
    zeroInMagic[5] = '\0';  // "473.1" then a zero byte
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"473.101", wrongMagic},
        {"zero byte in magic", zeroInMagic},
        {"empty", ""},
        {"magic only", "473.100"},
        {"half a count", "473.100\x01\x00"},
        {"negative count", header(-1) + oneRow},
        {"count 10241", header(kMemoryCapacity + 1) + oneRow},
        {"shorter than its count", header(3) + oneRow + oneRow + oneRow.substr(0, 47)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("bad.dat");
        test::writeFile(path, c.bytes);
        const auto fromFile = files::loadSampleFile(path);
        EXPECT_EQ(LoadError::FormatError, fromFile.error);
        EXPECT_TRUE(fromFile.rows.empty());
        EXPECT_FALSE(fromFile.detail.empty());
        EXPECT_EQ(LoadError::FormatError, files::parseSampleFile(c.bytes).error);
    }
}

TEST(SampleFileLoad, MissingFileOrFolderIsAnIoError) {
    test::TempDir dir;
    EXPECT_EQ(LoadError::IoError, files::loadSampleFile(dir.file("missing.dat")).error);
    EXPECT_EQ(LoadError::IoError, files::loadSampleFile(dir.path()).error);
}

TEST(SampleFileSave, FailedSaveLeavesTheTargetIntact) {
    test::TempDir dir;
    MeasurementMemory memory;
    memory.AppendSample(makeRow(1));

    std::string error;
    EXPECT_FALSE(files::saveSampleFile(dir.file("no/such/folder/x.dat"), memory, &error));
    EXPECT_FALSE(error.empty());

    // A target that cannot be replaced (a folder of that name): it stays as
    // it is and no temporary file is left behind.
    const std::string blocked = dir.file("blocked.dat");
    std::filesystem::create_directory(blocked);
    test::writeFile(blocked + "/inside", "kept");
    EXPECT_FALSE(files::saveSampleFile(blocked, memory, &error));
    EXPECT_EQ("kept", test::readFile(blocked + "/inside"));

    // An existing file is replaced as a whole.
    const std::string existing = dir.file("existing.dat");
    test::writeFile(existing,
                    "old content that is longer than the new file would be ........"
                    "..............................................................");
    ASSERT_TRUE(files::saveSampleFile(existing, memory));
    EXPECT_EQ(files::sampleFileBytes(memory), test::readFile(existing));

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"blocked.dat", "existing.dat"}), names);
}

TEST(SampleFileAtomicWrite, KeepsPermissionsOfAReplacedFile) {
    test::TempDir dir;
    const std::string path = dir.file("mode.txt");
    test::writeFile(path, "a");
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(common::writeFileAtomically(path, "bc"));
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 0777);
    EXPECT_EQ("bc", test::readFile(path));

    const std::string fresh = dir.file("fresh.txt");
    ASSERT_TRUE(common::writeFileAtomically(fresh, ""));
    ASSERT_EQ(0, ::stat(fresh.c_str(), &info));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(0666u & ~mask, info.st_mode & 0777);  // not mkstemp's 0600
    EXPECT_EQ(0, info.st_size);
}

// A save removes the temporary files that a killed save of this program left
// in its folder (our name pattern, older than the running program) and
// nothing else: not a newer one of ours (another save may be writing it),
// not other files that look alike. A failure names the file asked for.
TEST(SampleFileAtomicWrite, StaleTemporariesGoAndFailuresNameTheTarget) {
    test::TempDir dir;
    const auto touch = [&](const std::string& name, bool old) {
        test::writeFile(dir.file(name), "x");
        if (old) {
            const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
            ::utimensat(AT_FDCWD, dir.file(name).c_str(), times, 0);
        }
    };
    struct Leftover {
        const char* name;
        bool old;
        bool removed;
    };
    const Leftover leftovers[] = {
        {".run.dat.tarvelo~a1B2c3", true, true},
        {".other.asc.tarvelo~ZZZZZZ", true, true},
        {".run.dat.tarvelo~Q9q9Q9", false, false},  // newer than the program
        {".run.dat.tarvelo~abc", true, false},      // not the pattern
        {".bashrc.backup", true, false},
        {"run.dat.tarvelo~a1B2c3", true, false},
        {".run.dat.tarvelo~a1B2c!", true, false},
    };
    for (const Leftover& leftover : leftovers)
        touch(leftover.name, leftover.old);

    ASSERT_TRUE(common::writeFileAtomically(dir.file("new.dat"), "data"));
    for (const Leftover& leftover : leftovers)
        EXPECT_EQ(!leftover.removed, std::filesystem::exists(dir.file(leftover.name)))
            << leftover.name;

    // A read-only file is not replaced, also for root; the reason names it.
    const std::string readOnly = dir.file("kept.dat");
    test::writeFile(readOnly, "old");
    ::chmod(readOnly.c_str(), 0444);
    for (const std::string& path : {readOnly, dir.file("no/such/folder/x.dat")}) {
        std::string error;
        EXPECT_FALSE(common::writeFileAtomically(path, "new", &error));
        EXPECT_NE(std::string::npos, error.find(path)) << error;
        EXPECT_EQ(std::string::npos, error.find("tarvelo~")) << error;
    }
    EXPECT_EQ("old", test::readFile(readOnly));
}
