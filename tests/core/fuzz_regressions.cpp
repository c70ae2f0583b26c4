// Replays the inputs that once crashed a fuzz target (fuzz/regressions/<name>/)
// and the seed corpus (fuzz/corpus/<name>/) through the same entry points,
// built with the normal compiler and flags, and then checks each target's
// property on a few hundred inputs mutated from those with a fixed seed, so
// that every normal and sanitizer run checks the properties too, and always
// on the same inputs. A broken expectation aborts; the input is printed first.
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

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

using Bytes = std::vector<uint8_t>;

Bytes readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), {}};
}

// The input under test, printed in hex when a broken expectation aborts, so
// that a failure can be saved in fuzz/regressions and replayed.
const Bytes* current = nullptr;

void printCurrentInput(int) {
    static const char kHex[] = "0123456789abcdef";
    static const char kHead[] = "\nfuzz property broken by the input (hex):\n";
    if (current) {
        (void)!::write(2, kHead, sizeof kHead - 1);
        for (const uint8_t byte : *current) {
            const char pair[2] = {kHex[byte >> 4], kHex[byte & 15]};
            (void)!::write(2, pair, 2);
        }
        (void)!::write(2, "\n", 1);
    }
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

int run(Entry entry, const Bytes& input) {
    current = &input;
    std::signal(SIGABRT, printCurrentInput);
    const int result = entry(input.data(), input.size());
    std::signal(SIGABRT, SIG_DFL);
    current = nullptr;
    return result;
}

void replay(const std::string& name, Entry entry, std::size_t atLeast) {
    const std::vector<fs::path> files = inputsOf(name);
    ASSERT_GE(files.size(), atLeast) << "inputs of " << name;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_EQ(run(entry, readBytes(file)), 0);
    }
}

// One to four changes of the kinds libFuzzer makes: a byte replaced, a bit
// flipped, bytes inserted or removed, a piece copied within the input or
// spliced in from another seed, the input cut short, and, as often, the first
// bytes replaced (the targets take their parameters from them).
Bytes mutate(const std::vector<Bytes>& seeds, std::mt19937& random) {
    auto below = [&random](std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    Bytes out = seeds[below(seeds.size())];
    const std::size_t changes = 1 + below(4);
    for (std::size_t c = 0; c < changes; ++c) {
        const auto byte = static_cast<uint8_t>(below(256));
        switch (below(8)) {
        case 0:
            if (!out.empty())
                out[below(out.size())] = byte;
            break;
        case 1:
            if (!out.empty())
                out[below(out.size())] ^= static_cast<uint8_t>(1u << below(8));
            break;
        case 2:
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(below(out.size() + 1)),
                       1 + below(8), byte);
            break;
        case 3:
            if (!out.empty()) {
                const std::size_t at = below(out.size());
                const std::size_t n = 1 + below(std::min<std::size_t>(16, out.size() - at));
                out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
                          out.begin() + static_cast<std::ptrdiff_t>(at + n));
            }
            break;
        case 4:
            if (!out.empty()) {
                const std::size_t from = below(out.size());
                const Bytes piece(out.begin() + static_cast<std::ptrdiff_t>(from),
                                  out.begin() + static_cast<std::ptrdiff_t>(
                                                    from + 1 + below(out.size() - from)));
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(below(out.size() + 1)),
                           piece.begin(), piece.end());
            }
            break;
        case 5: {
            const Bytes& other = seeds[below(seeds.size())];
            const std::size_t keep = below(out.size() + 1);
            out.resize(keep);
            out.insert(out.end(),
                       other.begin() + static_cast<std::ptrdiff_t>(below(other.size() + 1)),
                       other.end());
            break;
        }
        case 6:
            out.resize(below(out.size() + 1));
            break;
        default:
            if (!out.empty())
                out[below(std::min<std::size_t>(2, out.size()))] = byte;
            break;
        }
    }
    return out;
}

// The target's property on `count` mutated inputs; the same ones every run.
void checkProperty(const std::string& name, Entry entry, int count = 400) {
    std::vector<Bytes> seeds;
    for (const fs::path& file : inputsOf(name))
        seeds.push_back(readBytes(file));
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << name;
    std::mt19937 random(0x7A2F17u);
    for (int i = 0; i < count; ++i) {
        const Bytes input = mutate(seeds, random);
        ASSERT_EQ(run(entry, input), 0) << name << " input " << i;
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

TEST(FuzzProperties, RepliesOnMutatedInputs) {
    checkProperty("replies", fuzzReplies);
}

TEST(FuzzProperties, StreamOnMutatedInputs) {
    checkProperty("stream", fuzzStream);
}

TEST(FuzzProperties, SampleFileOnMutatedInputs) {
    checkProperty("sample_file", fuzzSampleFile);
}

TEST(FuzzProperties, SettingsOnMutatedInputs) {
    checkProperty("settings", fuzzSettings);
}

TEST(FuzzRegressions, RecordingReplay) {
    replay("recording", fuzzRecording, 4);
}

}  // namespace
