#include "common/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvelo::common {

void ignoreFileSizeSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}


namespace {

constexpr std::string_view kTemporaryMark = ".tarvelo~";
constexpr std::size_t kRandomLength = 6;  // mkstemp's "XXXXXX"

// When this program started (near enough: when its objects were set up).
// Temporary files older than that cannot belong to a save in progress. File
// times come from a coarser clock than this one, so a file counts as older
// only by more than a second.
const std::chrono::system_clock::time_point kProgramStart = std::chrono::system_clock::now();
constexpr std::chrono::seconds kFileClockSlack{1};

bool fail(std::string* error, const std::string& what, int errorNumber) {
    if (error)
        *error = what + ": " + std::strerror(errorNumber);
    errno = errorNumber;
    return false;
}

// The process's umask without changing it (umask() would, for a moment, for
// every thread).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

bool mayWrite(const std::string& path, int mode) {
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// The file a path finally names: symbolic links are followed (relative ones
// from their own folder), at most 40 of them, as the system does.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return true;
        std::vector<char> target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) >= target.size()) {  // changed while read
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string link(target.data(), static_cast<std::size_t>(n));
        path = !link.empty() && link.front() == '/' ? link : folderOf(path) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

bool olderThanProgram(const struct stat& info) {
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) +
            std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return modified < kProgramStart - kFileClockSlack;
}

// Removes the temporary files a killed save of this program left in
// `folder`: our name pattern, a plain file of this user, last written before
// this program started (so no save of ours, in this run or another one, is
// still writing it). Whatever fails here is left for the next save.
void removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isOwnTemporaryName(entry->d_name))
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && olderThanProgram(info))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Rewrites an existing file through its own descriptor, for a folder in
// which no temporary file can be made.
// Hands the producer a sink that writes to `fd` and counts the bytes.
bool produceInto(int fd, const ByteProducer& produce, off_t& written) {
    written = 0;
    return produce([fd, &written](std::string_view bytes) {
        if (!writeAll(fd, bytes))
            return false;
        written += static_cast<off_t>(bytes.size());
        return true;
    });
}

bool rewriteInPlace(const std::string& target, const std::string& path,
                    const ByteProducer& produce, std::string* error) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, "Cannot write " + path, errno);
    off_t written = 0;
    if (!produceInto(fd, produce, written) || ::ftruncate(fd, written) != 0 || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        return fail(error, "Cannot write " + path, saved);
    }
    if (::close(fd) != 0)
        return fail(error, "Cannot write " + path, errno);
    return true;
}

}  // namespace

bool isOwnTemporaryName(std::string_view name) {
    const std::size_t tail = kTemporaryMark.size() + kRandomLength;
    if (name.size() < 2 + tail || name.front() != '.')
        return false;
    if (name.substr(name.size() - tail, kTemporaryMark.size()) != kTemporaryMark)
        return false;
    for (const char c : name.substr(name.size() - kRandomLength)) {
        const bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric)
            return false;
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error,
                         Replace replace) {
    return writeFileAtomicallyFrom(
        path, [bytes](const ByteSink& sink) { return sink(bytes); }, error, replace);
}

bool writeFileAtomicallyFrom(const std::string& path, const ByteProducer& produce,
                             std::string* error, Replace replace) {
    if (path.empty() || path.back() == '/')
        return fail(error, "No file name", EINVAL);

    // The link's target is written; the reasons still name what was asked for.
    std::string target = path;
    if (!resolveLinks(target))
        return fail(error, "Cannot follow " + path, errno);

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    // The rename needs only the folder's permission: the file's own decides.
    if (exists && S_ISREG(existing.st_mode) &&
        ((existing.st_mode & 0222) == 0 || !mayWrite(target, W_OK)))
        return fail(error, "Cannot write " + path, EACCES);

    const std::string folder = folderOf(target);
    if (replace == Replace::AtomicallyOrInPlace && exists && S_ISREG(existing.st_mode) &&
        !mayWrite(folder, W_OK | X_OK))
        return rewriteInPlace(target, path, produce, error);

    removeStaleTemporaries(folder);
    const auto slash = target.find_last_of('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary =
        folder + "/." + name + std::string(kTemporaryMark) + std::string(kRandomLength, 'X');

    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail(error, "Cannot write " + path, errno);

    auto abandon = [&](const std::string& what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return fail(error, what, saved);
    };

    const mode_t mode = exists && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777)
                                                            : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0)
        return abandon("Cannot write " + path);
    off_t written = 0;
    if (!produceInto(fd, produce, written))
        return abandon("Cannot write " + path);
    if (::fsync(fd) != 0)
        return abandon("Cannot write " + path);
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return fail(error, "Cannot write " + path, saved);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return fail(error, "Cannot replace " + path, saved);
    }

    // The rename itself is made durable by flushing the folder; the new file
    // is in place whatever this gives, so a failure here is not reported.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace tarvelo::common
