// Replays the inputs that once crashed a fuzz target (fuzz/regressions/<name>/)
// and the seed corpus (fuzz/corpus/<name>/) through the same entry points,
// built with the normal compiler and flags. A broken expectation aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" int fuzzReplies(const uint8_t* data, std::size_t size);
extern "C" int fuzzStream(const uint8_t* data, std::size_t size);
extern "C" int fuzzSampleFile(const uint8_t* data, std::size_t size);
extern "C" int fuzzSettings(const uint8_t* data, std::size_t size);
extern "C" int fuzzRecording(const uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;
using Entry = int (*)(const uint8_t*, std::size_t);

// Every file of fuzz/regressions/<name> and fuzz/corpus/<name>, sorted.
std::vector<fs::path> inputsOf(const std::string& name) {
    std::vector<fs::path> files;
    for (const char* folder : {"regressions", "corpus"}) {
        const fs::path dir = fs::path(TARVELO_FUZZ_DIR) / folder / name;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const std::string& name, Entry entry, std::size_t atLeast) {
    const std::vector<fs::path> files = inputsOf(name);
    ASSERT_GE(files.size(), atLeast) << "inputs of " << name;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

TEST(FuzzRegressions, RepliesReplay) {
    replay("replies", fuzzReplies, 1);
}

// Holds a stream whose settings name sample rate -1: it once completed every
// record as a sample divided by 0.
TEST(FuzzRegressions, StreamReplay) {
    replay("stream", fuzzStream, 2);
}

TEST(FuzzRegressions, SampleFileReplay) {
    replay("sample_file", fuzzSampleFile, 1);
}

TEST(FuzzRegressions, SettingsReplay) {
    replay("settings", fuzzSettings, 1);
}

TEST(FuzzRegressions, RecordingReplay) {
    replay("recording", fuzzRecording, 4);
}

}  // namespace
