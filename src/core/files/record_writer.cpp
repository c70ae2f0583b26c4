#include "files/record_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "acquisition/sample_list.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "files/export_text.h"

namespace tarvelo::files {

namespace {

// The writer thread is woken early when this many samples wait, so that a
// fast stream is written in moderate batches instead of one large one.
constexpr std::size_t kWakeBatch = 8192;

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

RecordWriter::~RecordWriter() {
    close();
}

bool RecordWriter::open(const std::string& path, std::string header, LineFormatter formatLine,
                        std::string* error, std::size_t maxQueued) {
    std::lock_guard closeLock(closeMutex_);
    if (open_.load() || closed_) {
        if (error)
            *error = "recording already started";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error)
            *error = systemError("cannot create the file");
        return false;
    }
    fd_ = fd;
    std::string reason;
    if (!writeAll(header, &reason)) {
        ::close(fd_);
        fd_ = -1;
        if (error)
            *error = reason;
        return false;
    }
    path_ = path;
    size_ = static_cast<off_t>(header.size());
    formatLine_ = std::move(formatLine);
    maxQueued_ = maxQueued;
    queue_.reserve(2 * kWakeBatch);
    open_.store(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

void RecordWriter::append(const acquisition::SampleRow* rows, std::size_t n) {
    if (n == 0 || failed_.load(std::memory_order_relaxed))
        return;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!open_.load() || closing_ || failed_.load())
            return;
        if (queue_.size() + n > maxQueued_) {
            // The disk has fallen far behind: stop here rather than grow
            // without bound or make the producer wait.
            error_ = "the disk did not keep up with the samples";
            failed_.store(true);
            wake = true;
        } else {
            const std::size_t before = queue_.size();
            queue_.insert(queue_.end(), rows, rows + n);
            appended_.fetch_add(n, std::memory_order_relaxed);
            wake = before < kWakeBatch && queue_.size() >= kWakeBatch;
        }
    }
    if (wake)
        wake_.notify_one();
}

bool RecordWriter::close(std::string* error) {
    {
        std::lock_guard closeLock(closeMutex_);
        if (!closed_) {
            closed_ = true;
            if (open_.load()) {
                {
                    std::lock_guard lock(mutex_);
                    closing_ = true;
                }
                wake_.notify_one();
                thread_.join();
                if (::close(fd_) != 0 && !failed_.load())
                    fail(systemError("cannot close the file"));
                fd_ = -1;
                open_.store(false);
            }
        }
    }
    if (failed_.load()) {
        if (error)
            *error = this->error();
        return false;
    }
    return true;
}

std::string RecordWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void RecordWriter::fail(std::string reason) {
    std::lock_guard lock(mutex_);
    if (!failed_.load())
        error_ = std::move(reason);
    failed_.store(true);
    queue_.clear();
}

bool RecordWriter::writeSome(const std::string& bytes, std::size_t& done) {
    done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RecordWriter::writeAll(const std::string& bytes, std::string* reason) {
    if (common::writeAll(fd_, bytes))
        return true;
    *reason = systemError("cannot write the file");
    return false;
}

void RecordWriter::run() {
    std::vector<acquisition::SampleRow> batch;
    batch.reserve(2 * kWakeBatch);
    std::string text;
    std::vector<std::size_t> lineEnds;  // where each line of `text` ends
    uint64_t number = 0;
    auto lastSync = std::chrono::steady_clock::now();
    bool unsynced = false;

    for (;;) {
        bool last;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kWriteInterval, [this] {
                return closing_ || failed_.load() || queue_.size() >= kWakeBatch;
            });
            batch.swap(queue_);
            // Neither close() nor a failure lets more samples in, so this
            // batch is the last one. After an overflow it still holds the
            // samples accepted before, which are written without a gap.
            last = closing_ || failed_.load();
        }

        if (!batch.empty()) {
            text.clear();
            lineEnds.clear();
            const uint64_t before = number;
            for (const auto& row : batch) {
                formatLine_(text, ++number, row);
                lineEnds.push_back(text.size());
            }
            std::size_t done = 0;
            if (!writeSome(text, done)) {
                // A write can fail part-way (a full disk, a size limit): the
                // lines that went out whole stay, the file is cut back to the
                // end of the last of them.
                std::string reason = systemError("cannot write the file");
                const auto whole = static_cast<std::size_t>(
                    std::upper_bound(lineEnds.begin(), lineEnds.end(), done) - lineEnds.begin());
                const std::size_t kept = whole == 0 ? 0 : lineEnds[whole - 1];
                if (::ftruncate(fd_, size_ + static_cast<off_t>(kept)) != 0 && errno != EINVAL)
                    reason += "; " + systemError("cannot cut the file back");
                if (whole > 0 && countingHeader_) {
                    const std::string header = countingHeader_(before + whole);
                    if (::pwrite(fd_, header.data(), header.size(), 0) < 0)
                        reason += "; " + systemError("cannot write the file's header");
                }
                written_.store(before + whole);
                fail(reason);
                return;
            }
            size_ += static_cast<off_t>(text.size());
            if (countingHeader_) {
                const std::string header = countingHeader_(number);
                if (::pwrite(fd_, header.data(), header.size(), 0) !=
                    static_cast<ssize_t>(header.size())) {
                    fail(systemError("cannot write the file's header"));
                    return;
                }
            }
            written_.store(number);
            batch.clear();
            unsynced = true;
        }

        const auto now = std::chrono::steady_clock::now();
        if (unsynced && (last || now - lastSync >= kSyncInterval)) {
            // A pipe or a terminal has nothing to flush (EINVAL).
            if (::fdatasync(fd_) != 0 && errno != EINVAL) {
                fail(systemError("cannot write the file to the disk"));
                return;
            }
            lastSync = now;
            unsynced = false;
        }
        if (last)
            return;
    }
}

std::string exportHeaderBytes(const acquisition::SampleList& list) {
    return common::utf8ToCp1252(exportHeaderLine(list));
}

RecordWriter::LineFormatter exportLineFormatter(char decimalSeparator) {
    return
        [decimalSeparator](std::string& out, uint64_t number, const acquisition::SampleRow& row) {
            appendExportLine(out, number, row, decimalSeparator);
        };
}

}  // namespace tarvelo::files
