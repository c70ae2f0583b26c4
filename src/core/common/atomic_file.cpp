#include "common/atomic_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelo::common {

void ignoreFileSizeSignal() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
}


namespace {

bool fail(std::string* error, const std::string& what, int errorNumber) {
    if (error)
        *error = what + ": " + std::strerror(errorNumber);
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

}  // namespace

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

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
    if (path.empty() || path.back() == '/')
        return fail(error, "No file name", EINVAL);

    const std::string folder = folderOf(path);
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";

    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return fail(error, "Cannot create a file in " + folder, errno);

    auto abandon = [&](const std::string& what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return fail(error, what, saved);
    };

    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? (existing.st_mode & 07777)
                            : (0666 & ~currentUmask());
    if (::fchmod(fd, mode) != 0)
        return abandon("Cannot set the permissions of " + temporary);
    if (!writeAll(fd, bytes))
        return abandon("Cannot write " + temporary);
    if (::fsync(fd) != 0)
        return abandon("Cannot flush " + temporary);
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return fail(error, "Cannot write " + temporary, saved);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
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
