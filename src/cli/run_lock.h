#pragma once

#include <string>

namespace tarvelo::cli {

// The folder for the program's run-time files: $XDG_RUNTIME_DIR/tarvelo,
// else /run/tarvelo for root, else a folder of the user's own under the
// temporary folder. Created (0700) when missing; empty with the reason in
// `error` when it cannot be, or is not the user's own.
std::string runtimeFolder(std::string& error);

// One recording per instrument: an advisory lock (flock) on a file named
// after the address and port in the runtime folder. The system releases it
// when the process ends however it ends, so a crashed run never leaves it
// held.
class InstrumentLock {
public:
    InstrumentLock() = default;
    ~InstrumentLock();
    InstrumentLock(const InstrumentLock&) = delete;
    InstrumentLock& operator=(const InstrumentLock&) = delete;

    // False with the reason when another process holds the lock (the
    // message names it) or the lock file cannot be made.
    bool acquire(const std::string& address, int port, std::string& error);

private:
    int fd_ = -1;
};

}  // namespace tarvelo::cli
