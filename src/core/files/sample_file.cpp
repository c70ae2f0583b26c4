#include "files/sample_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common/atomic_file.h"

namespace tarvelo::files {

using acquisition::kMemoryCapacity;
using acquisition::kRecordSize;
using acquisition::SampleRow;

namespace {

void putInt32(std::string& out, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((bits >> shift) & 0xFF));
}

int32_t getInt32(const char* bytes) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    return static_cast<int32_t>(bits);
}

LoadResult formatError(std::string detail) {
    LoadResult result;
    result.error = LoadError::FormatError;
    result.detail = std::move(detail);
    return result;
}

LoadResult ioError(const std::string& path, int errorNumber) {
    LoadResult result;
    result.error = LoadError::IoError;
    result.detail = path + ": " + std::strerror(errorNumber);
    result.errorNumber = errorNumber;
    return result;
}

// Reads up to `size` bytes; fewer only at the end of the file. False on a
// read error.
bool readUpTo(int fd, char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// The header's checks; the count when they pass.
LoadResult checkHeader(std::string_view header, int32_t& count) {
    if (header.size() < kSampleFileMagic.size() ||
        header.substr(0, kSampleFileMagic.size()) != kSampleFileMagic)
        return formatError("bad magic");
    if (header.size() < kSampleFileHeaderSize)
        return formatError("the row count is missing");
    count = getInt32(header.data() + kSampleFileMagic.size());
    if (count < 0 || count > kMemoryCapacity)
        return formatError("row count " + std::to_string(count) + " outside 0 to " +
                           std::to_string(kMemoryCapacity));
    return {};
}

}  // namespace

std::string sampleFileBytes(const acquisition::MeasurementMemory& memory) {
    const auto snapshot = memory.snapshot();
    const auto count = static_cast<int32_t>(snapshot.rows.size());
    std::string out;
    out.reserve(kSampleFileHeaderSize + kRecordSize * snapshot.rows.size());
    out.append(kSampleFileMagic);
    putInt32(out, count);
    // SampleRow is the file's row byte for byte (padding included).
    if (!snapshot.rows.empty())
        out.append(reinterpret_cast<const char*>(snapshot.rows.data()),
                   kRecordSize * snapshot.rows.size());
    return out;
}

bool saveSampleFile(const std::string& path, const acquisition::MeasurementMemory& memory,
                    std::string* error) {
    return common::writeFileAtomically(path, sampleFileBytes(memory), error);
}

LoadResult parseSampleFile(std::string_view bytes) {
    int32_t count = 0;
    LoadResult result = checkHeader(bytes.substr(0, kSampleFileHeaderSize), count);
    if (!result.ok())
        return result;
    const std::size_t rowBytes = kRecordSize * static_cast<std::size_t>(count);
    if (bytes.size() - kSampleFileHeaderSize < rowBytes)
        return formatError("the file holds fewer rows than its count of " + std::to_string(count));
    result.rows.resize(static_cast<std::size_t>(count));
    if (count > 0)
        std::memcpy(result.rows.data(), bytes.data() + kSampleFileHeaderSize, rowBytes);
    return result;
}

LoadResult loadSampleFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ioError(path, errno);

    // The header first: the count bounds what is read, so a large or hostile
    // file costs no more than a full memory.
    char header[kSampleFileHeaderSize];
    std::size_t got = 0;
    if (!readUpTo(fd, header, sizeof header, got)) {
        const int saved = errno;
        ::close(fd);
        return ioError(path, saved);
    }
    int32_t count = 0;
    LoadResult result = checkHeader(std::string_view(header, got), count);
    if (!result.ok()) {
        ::close(fd);
        return result;
    }

    result.rows.resize(static_cast<std::size_t>(count));
    const std::size_t rowBytes = kRecordSize * static_cast<std::size_t>(count);
    if (!readUpTo(fd, reinterpret_cast<char*>(result.rows.data()), rowBytes, got)) {
        const int saved = errno;
        ::close(fd);
        return ioError(path, saved);
    }
    ::close(fd);
    if (got < rowBytes)
        return formatError("the file holds fewer rows than its count of " + std::to_string(count));
    return result;
}

}  // namespace tarvelo::files
