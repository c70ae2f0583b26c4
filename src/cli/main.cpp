// tarvelo-cli: the instrument from scripts: readings, recordings, the batch
// memory and sample file conversion, on the same core as the window program.

#include <climits>
#include <csignal>
#include <string>
#include <unistd.h>

#include "cli/commands.h"

int main(int argc, char* argv[]) {
    // A closed standard output is a write error the command reports (a
    // recording still stops the instrument's stream), not the end of the
    // process.
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit (ulimit -f) is a write error like a full disk, which
    // keeps what was written, not the end of the process.
    std::signal(SIGXFSZ, SIG_IGN);
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
    const auto slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    return tarvelo::cli::runProgram(argc, argv, folder);
}
