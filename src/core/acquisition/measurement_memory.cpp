#include "acquisition/measurement_memory.h"

#include <algorithm>

namespace tarvelo::acquisition {

namespace {

// Calls `visit(ringIndex)` for every held row, oldest first.
template <typename Visit>
void forEachChronological(const MemoryState& state, Visit visit) {
    if (state.wrapped) {
        for (int32_t i = state.writePosition; i < kMemoryCapacity; ++i)
            visit(i);
        for (int32_t i = 0; i < state.writePosition; ++i)
            visit(i);
    } else {
        for (int32_t i = 0; i < state.writePosition; ++i)
            visit(i);
    }
}

}  // namespace

MeasurementMemory::MeasurementMemory()
    : rows_(std::make_unique<std::array<SampleRow, kMemoryCapacity>>()) {}

void MeasurementMemory::reset() {
    std::lock_guard lock(mutex_);
    rows_->fill(SampleRow{});
    state_ = MemoryState{};
}

int32_t MeasurementMemory::AppendSample(const SampleRow& row) {
    std::lock_guard lock(mutex_);
    if (state_.writePosition >= kMemoryCapacity) {
        // Full without the wrap (a load of exactly 10240 rows): wrap first so
        // the new row lands at index 0 and becomes the newest.
        state_.writePosition = 0;
        state_.wrapped = true;
    }
    (*rows_)[static_cast<std::size_t>(state_.writePosition)] = row;
    ++state_.writePosition;
    const int32_t count = state_.writePosition;
    if (state_.writePosition == kMemoryCapacity) {
        state_.writePosition = 0;
        state_.wrapped = true;
    }
    return count;
}

int32_t MeasurementMemory::AppendSamples(const SampleRow* rows, int32_t n,
                                         bool refuseWhenFullUnwrapped) {
    if (n <= 0)
        return 0;
    std::lock_guard lock(mutex_);
    if (state_.writePosition >= kMemoryCapacity) {
        if (!state_.wrapped && refuseWhenFullUnwrapped)
            return 0;
        state_.writePosition = 0;
        state_.wrapped = true;
    }
    const int32_t first = state_.writePosition + 1;
    // At most two runs of rows: up to the end of the ring, then from row 0.
    while (n > 0) {
        const int32_t run = std::min(n, kMemoryCapacity - state_.writePosition);
        std::copy_n(rows, run, rows_->begin() + state_.writePosition);
        rows += run;
        n -= run;
        state_.writePosition += run;
        if (state_.writePosition == kMemoryCapacity) {
            state_.writePosition = 0;
            state_.wrapped = true;
        }
    }
    return first;
}

MemoryState MeasurementMemory::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void MeasurementMemory::clear() {
    std::lock_guard lock(mutex_);
    state_ = MemoryState{};
}

void MeasurementMemory::load(const std::vector<SampleRow>& rows) {
    const auto count = static_cast<int32_t>(
        std::min<std::size_t>(rows.size(), static_cast<std::size_t>(kMemoryCapacity)));
    std::lock_guard lock(mutex_);
    std::copy_n(rows.begin(), count, rows_->begin());
    state_.writePosition = count;
    state_.wrapped = false;
}

SampleRow MeasurementMemory::row(int32_t index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= kMemoryCapacity)
        return SampleRow{};
    return (*rows_)[static_cast<std::size_t>(index)];
}

MeasurementMemory::Snapshot MeasurementMemory::snapshot(bool withRingIndex) const {
    Snapshot result;
    // Reserve outside the lock so the sampling thread is held up only by the copy.
    result.rows.reserve(kMemoryCapacity);
    if (withRingIndex)
        result.ringIndex.reserve(kMemoryCapacity);
    std::lock_guard lock(mutex_);
    result.state = state_;
    forEachChronological(state_, [&](int32_t i) {
        result.rows.push_back((*rows_)[static_cast<std::size_t>(i)]);
        if (withRingIndex)
            result.ringIndex.push_back(i);
    });
    return result;
}

MemoryState MeasurementMemory::copyChronological(std::vector<SampleRow>& out) const {
    out.clear();
    out.reserve(kMemoryCapacity);
    std::lock_guard lock(mutex_);
    forEachChronological(state_,
                         [&](int32_t i) { out.push_back((*rows_)[static_cast<std::size_t>(i)]); });
    return state_;
}

bool MeasurementMemory::newestRow(SampleRow& out) const {
    std::lock_guard lock(mutex_);
    if (state_.writePosition <= 0)
        return false;
    out = (*rows_)[static_cast<std::size_t>(state_.writePosition - 1)];
    return true;
}

std::string MeasurementMemory::channelUnit(int channel) const {
    std::lock_guard lock(mutex_);
    if (channel < 1 || channel > 4)
        return {};
    return units_[static_cast<std::size_t>(channel - 1)];
}

void MeasurementMemory::setChannelUnit(int channel, std::string unit) {
    std::lock_guard lock(mutex_);
    if (channel < 1 || channel > 4)
        return;
    units_[static_cast<std::size_t>(channel - 1)] = std::move(unit);
}

}  // namespace tarvelo::acquisition
