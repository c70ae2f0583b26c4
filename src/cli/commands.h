#pragma once

#include <atomic>
#include <string>

#include "app/settings.h"
#include "cli/options.h"
#include "device/mtrans.h"

namespace tarvelo::cli {

// What every command works with: the options and the settings values, the
// address and port already overridden by the command line.
struct Context {
    Options options;
    app::Settings settings;
    device::LinkTiming timing{};
};

// Set by SIGINT and SIGTERM while a recording runs.
std::atomic<bool>& stopRequest();

// Each returns the exit status; messages go to standard error.
int runShot(Context& context);
int runUnits(Context& context);
int runRecord(Context& context);
int runBatch(Context& context);
int runConvert(Context& context);

// The whole program: parses the arguments, reads the settings file and runs
// the command. `programDirectory` is the executable's folder.
int runProgram(int argc, char* argv[], const std::string& programDirectory);

}  // namespace tarvelo::cli
