#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvelo::recording {

// Why a set of files is not the parts of one split run.
enum class RunFault {
    None,
    NotAPart,    // `file`'s name has no part number (FILE-0001.ext, FILE-0002.ext, ...)
    OtherRun,    // `file` belongs to another run (name, extension or folder) than `other`
    Twice,       // `file` and `other` are the same part
    Missing,     // the part `file` (a path made from the others) is not among them
    Unfinished,  // `file` is a FILE.part that is not the last part
};

struct RunOrder {
    std::vector<std::string> paths;  // in the run's order
    RunFault fault = RunFault::None;
    std::string file;
    std::string other;
};

// Puts the files of a run that `tarvelo-cli record --split` wrote in the
// run's order, by the part number in their names (whatever order they come
// in), and checks that they are consecutive parts of one run: one folder,
// one name and extension, no part twice, none missing between the first and
// the last, and only the last one still a FILE.part. The run may start at
// any part. A single path comes back as it is, whatever its name.
RunOrder orderSplitRun(const std::vector<std::string>& paths);

}  // namespace tarvelo::recording
