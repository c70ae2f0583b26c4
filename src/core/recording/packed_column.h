#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarvelo::recording {

// Bytes handed out in slabs that never move, so a block's bytes can be
// pointed at while more are added. One arena per reading thread.
class ByteArena {
public:
    static constexpr std::size_t kSlabSize = std::size_t{1} << 20;

    // `size` bytes (at most kSlabSize), valid as long as the arena lives.
    uint8_t* take(std::size_t size);
    std::size_t bytesHeld() const { return slabs_.size() * kSlabSize; }

private:
    std::vector<std::unique_ptr<uint8_t[]>> slabs_;
    std::size_t used_ = kSlabSize;
};

// A column of whole numbers in blocks of kBlockSize. Each block holds its
// smallest value and every value's distance from it in the fewest bytes that
// hold the block's range (0 when all are equal, 1, 2, 4 or 8), so a smooth
// signal costs two bytes a value, and any value is found without decoding
// its neighbours.
class PackedColumn {
public:
    static constexpr unsigned kBlockShift = 12;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kBlockShift;

    struct Block {
        int64_t base = 0;  // the block's smallest value
        const uint8_t* bytes = nullptr;
        uint8_t width = 0;  // bytes per value
    };

    // Room for `blocks` blocks, filled by setBlock() in any order (from
    // several threads, each its own blocks).
    void resize(std::size_t blocks) { blocks_.assign(blocks, Block{}); }
    std::size_t blockCount() const { return blocks_.size(); }

    // Packs values[0..n) (n <= kBlockSize) into block `index`, its bytes
    // taken from `arena`.
    void setBlock(std::size_t index, const int64_t* values, std::size_t n, ByteArena& arena);

    int64_t at(uint64_t i) const {
        const Block& b = blocks_[i >> kBlockShift];
        const std::size_t k = i & (kBlockSize - 1);
        switch (b.width) {
            case 0:
                return b.base;
            case 1:
                return b.base + b.bytes[k];
            case 2:
                return b.base + load<uint16_t>(b.bytes + 2 * k);
            case 4:
                return b.base + load<uint32_t>(b.bytes + 4 * k);
            default:
                return b.base + static_cast<int64_t>(load<uint64_t>(b.bytes + 8 * k));
        }
    }
    // The values [from, to) into out[0 .. to - from).
    void decode(uint64_t from, uint64_t to, int64_t* out) const;
    const Block& block(std::size_t index) const { return blocks_[index]; }

    // Bytes of the packed values and of the block table.
    std::size_t bytesUsed() const;

private:
    template <typename T>
    static T load(const uint8_t* p) {
        T value;
        __builtin_memcpy(&value, p, sizeof value);
        return value;
    }

    std::vector<Block> blocks_;
};

}  // namespace tarvelo::recording
