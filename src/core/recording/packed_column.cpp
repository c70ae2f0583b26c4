#include "recording/packed_column.h"

#include <algorithm>
#include <cstring>

namespace tarvelo::recording {

uint8_t* ByteArena::take(std::size_t size) {
    if (size == 0)
        return nullptr;
    used_ = (used_ + 7) & ~std::size_t{7};  // every block's bytes 8-aligned
    if (used_ + size > kSlabSize) {
        slabs_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kSlabSize));
        used_ = 0;
    }
    uint8_t* bytes = slabs_.back().get() + used_;
    used_ += size;
    return bytes;
}

namespace {

template <typename T>
void packAs(const int64_t* values, std::size_t n, int64_t base, uint8_t* bytes) {
    T* out = reinterpret_cast<T*>(bytes);  // the arena's bytes are 8-aligned
    const uint64_t b = static_cast<uint64_t>(base);
    for (std::size_t k = 0; k < n; ++k)
        out[k] = static_cast<T>(static_cast<uint64_t>(values[k]) - b);
}

template <typename T>
void unpackAs(const uint8_t* bytes, int64_t base, std::size_t n, int64_t* out) {
    for (std::size_t k = 0; k < n; ++k) {
        T offset;
        std::memcpy(&offset, bytes + k * sizeof(T), sizeof(T));
        out[k] = static_cast<int64_t>(static_cast<uint64_t>(base) + offset);
    }
}

}  // namespace

void PackedColumn::setBlock(std::size_t index, const int64_t* values, std::size_t n,
                            ByteArena& arena) {
    Block& b = blocks_[index];
    if (n == 0) {
        b = Block{};
        return;
    }
    int64_t lo = values[0], hi = values[0];
    for (std::size_t k = 1; k < n; ++k) {
        lo = std::min(lo, values[k]);
        hi = std::max(hi, values[k]);
    }
    b.base = lo;
    const uint64_t range = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    b.width = range == 0 ? 0 : range <= 0xFF ? 1 : range <= 0xFFFF ? 2 : range <= 0xFFFFFFFF ? 4 : 8;
    // Room for a whole block, so that a reader of a partial last block never
    // reads outside its bytes.
    uint8_t* out = arena.take(kBlockSize * b.width);
    switch (b.width) {
        case 0:
            break;
        case 1:
            packAs<uint8_t>(values, n, b.base, out);
            break;
        case 2:
            packAs<uint16_t>(values, n, b.base, out);
            break;
        case 4:
            packAs<uint32_t>(values, n, b.base, out);
            break;
        default:
            packAs<uint64_t>(values, n, b.base, out);
            break;
    }
    b.bytes = out;
}

void PackedColumn::decode(uint64_t from, uint64_t to, int64_t* out) const {
    while (from < to) {
        const Block& b = blocks_[from >> kBlockShift];
        const std::size_t k = from & (kBlockSize - 1);
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(to - from, kBlockSize - k));
        switch (b.width) {
            case 0:
                std::fill(out, out + n, b.base);
                break;
            case 1:
                unpackAs<uint8_t>(b.bytes + k, b.base, n, out);
                break;
            case 2:
                unpackAs<uint16_t>(b.bytes + 2 * k, b.base, n, out);
                break;
            case 4:
                unpackAs<uint32_t>(b.bytes + 4 * k, b.base, n, out);
                break;
            default:
                unpackAs<uint64_t>(b.bytes + 8 * k, b.base, n, out);
                break;
        }
        out += n;
        from += n;
    }
}

std::size_t PackedColumn::bytesUsed() const {
    std::size_t bytes = blocks_.size() * sizeof(Block);
    for (const Block& b : blocks_)
        bytes += kBlockSize * b.width;
    return bytes;
}

}  // namespace tarvelo::recording
