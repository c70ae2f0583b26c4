#include "cli/run_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvelo::cli {

namespace {

// `folder` exists (made 0700 when missing), is a folder and belongs to us.
bool ownFolder(const std::string& folder, std::string& error) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        error = folder + " is not a folder of this user's own";
        return false;
    }
    return true;
}

}  // namespace

std::string runtimeFolder(std::string& error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder;
    if (runtime && *runtime == '/') {
        folder = std::string(runtime) + "/tarvelo";
    } else if (::geteuid() == 0) {
        folder = "/run/tarvelo";
    } else {
        const char* temporary = std::getenv("TMPDIR");
        folder = std::string(temporary && *temporary == '/' ? temporary : "/tmp") + "/tarvelo-" +
                 std::to_string(::geteuid());
    }
    return ownFolder(folder, error) ? folder : std::string();
}

InstrumentLock::~InstrumentLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstrumentLock::acquire(const std::string& address, int port, std::string& error) {
    const std::string folder = runtimeFolder(error);
    if (folder.empty())
        return false;
    const std::string path = folder + "/record-" + address + "-" + std::to_string(port) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        char pid[32] = {};
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        if (reason != EWOULDBLOCK) {
            error = "cannot lock " + path + ": " + std::strerror(reason);
            return false;
        }
        std::string holder = n > 0 ? std::string(pid, static_cast<std::size_t>(n)) : std::string();
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0'))
            holder.pop_back();
        error = "another recording from " + address + ":" + std::to_string(port) +
                " is running" + (holder.empty() ? std::string() : " (process " + holder + ")") +
                "; one instrument streams to one recording at a time";
        return false;
    }
    // Whose lock it is, for the message of a second run.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    fd_ = fd;
    return true;
}

}  // namespace tarvelo::cli
