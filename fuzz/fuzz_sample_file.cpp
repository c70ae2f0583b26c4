// Reads arbitrary bytes as a sample file (".dat"). A file that is accepted
// must give exactly its counted rows, and loading those rows into the
// measurement memory and saving them again must give the file's bytes back
// (without anything after the counted rows).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "checks.h"
#include "acquisition/measurement_memory.h"
#include "files/sample_file.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace tarvelo;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const files::LoadResult result = files::parseSampleFile(bytes);
    if (!result.ok()) {
        require(result.error == files::LoadError::FormatError && result.rows.empty());
        require(!result.detail.empty());
        return 0;
    }
    const std::size_t count = result.rows.size();
    require(count <= static_cast<std::size_t>(acquisition::kMemoryCapacity));
    const std::size_t used = files::kSampleFileHeaderSize + count * acquisition::kRecordSize;
    require(size >= used);
    require(bytes.substr(0, 7) == files::kSampleFileMagic);

    // Only a small share of the inputs is accepted, so the memory (a fixed
    // array of 10240 rows) is set up just for those.
    static acquisition::MeasurementMemory memory;
    memory.clear();
    memory.load(result.rows);
    require(static_cast<std::size_t>(memory.RowCount()) == count);
    require(files::sampleFileBytes(memory) == bytes.substr(0, used));
    return 0;
}
