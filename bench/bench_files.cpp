// Saving, loading and exporting a full measurement memory (10240 rows), each
// next to plain buffered I/O of the same bytes.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "files/export_text.h"
#include "files/sample_file.h"
#include "files/workbook.h"

using namespace tarvelo;

namespace {

struct Fixture {
    Fixture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarvelo-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        for (int n = 0; n < acquisition::kMemoryCapacity + 123; ++n) {
            acquisition::SampleRow row{};
            for (int c = 0; c < 4; ++c)
                row.channel[c] = 1000.0 * c + n * 0.001 - 3.5;
            row.timeMs = 1700000000000.0 + n;
            memory.AppendSample(row);
        }
        list.refill(memory);
        bytes = files::sampleFileBytes(memory);
    }
    ~Fixture() { std::filesystem::remove_all(folder); }
    std::string file(const char* name) const { return folder + "/" + name; }

    std::string folder;
    acquisition::MeasurementMemory memory;
    acquisition::SampleList list;
    std::string bytes;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_SaveSampleFile(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("save.dat");
    for (auto _ : state) {
        if (!files::saveSampleFile(path, f.memory))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes.size()));
}
BENCHMARK(BM_SaveSampleFile)->Unit(benchmark::kMillisecond);

// The same bytes with a plain buffered write; `flush` adds the fsync the
// atomic save makes.
void BM_PlainWrite(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("plain.dat");
    const bool flush = state.range(0) != 0;
    for (auto _ : state) {
        FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(f.bytes.data(), 1, f.bytes.size(), out);
        std::fflush(out);
        if (flush)
            ::fsync(fileno(out));
        std::fclose(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes.size()));
}
BENCHMARK(BM_PlainWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LoadSampleFile(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("load.dat");
    if (!files::saveSampleFile(path, f.memory))
        std::abort();
    for (auto _ : state) {
        auto result = files::loadSampleFile(path);
        if (!result.ok())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(result.rows.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes.size()));
}
BENCHMARK(BM_LoadSampleFile)->Unit(benchmark::kMillisecond);

// Load and put the rows into the memory, as the window does.
void BM_LoadIntoMemory(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("load.dat");
    acquisition::MeasurementMemory memory;
    for (auto _ : state) {
        auto result = files::loadSampleFile(path);
        memory.clear();
        memory.load(result.rows);
    }
}
BENCHMARK(BM_LoadIntoMemory)->Unit(benchmark::kMillisecond);

// The same bytes with a plain buffered read; `fresh` allocates the buffer
// anew each time, as a load must.
void BM_PlainRead(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("load.dat");
    const bool fresh = state.range(0) != 0;
    std::string buffer(f.bytes.size(), '\0');
    for (auto _ : state) {
        if (fresh)
            std::string(f.bytes.size(), '\0').swap(buffer);
        FILE* in = std::fopen(path.c_str(), "rb");
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes.size()));
}
BENCHMARK(BM_PlainRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ExportText(benchmark::State& state) {
    auto& f = fixture();
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = files::exportText(f.memory, f.list, ',');
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_ExportText)->Unit(benchmark::kMillisecond);

void BM_SaveExportFile(benchmark::State& state) {
    auto& f = fixture();
    const std::string text = files::exportText(f.memory, f.list, ',');
    const std::string path = f.file("export.asc");
    for (auto _ : state)
        files::saveExportFile(path, text);
}
BENCHMARK(BM_SaveExportFile)->Unit(benchmark::kMillisecond);

void BM_Workbook(benchmark::State& state) {
    auto& f = fixture();
    const std::string path = f.file("book.xlsx");
    for (auto _ : state) {
        std::string error;
        if (!files::writeWorkbook(path, f.list, &error))
            state.SkipWithError(error.c_str());
    }
    state.counters["rows"] = f.list.size();
}
BENCHMARK(BM_Workbook)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
