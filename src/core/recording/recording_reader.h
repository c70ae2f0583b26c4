#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "recording/recording.h"

namespace tarvelo::recording {

struct ReadOptions {
    // Threads that parse; 0 takes one per processor.
    unsigned threads = 0;
    // Called on the calling thread now and then with the share done (0..1).
    std::function<void(double)> progress;
    // Set from any thread to stop the reading soon.
    const std::atomic<bool>* cancel = nullptr;
};

struct ReadOutcome {
    std::unique_ptr<Recording> recording;  // none when it failed or was cancelled
    bool cancelled = false;
    std::string error;  // why the file is not a recording we can read (English)
};

// Reads a recording written by either program: the export text (".asc",
// Windows-1252, tabs, the regional decimal separator) or tarvelo-cli's CSV,
// told apart by the header line, not by the name. The file may be one still
// being written (".part"): a last line without its line end is left out.
// The file is mapped and parsed by several threads, every value of it, and
// the whole file is refused with the line and the reason at its first fault.
ReadOutcome readRecording(const std::string& path, const ReadOptions& options = {});
// The files of one run split in parts (split_run.h puts them in order) read
// as one recording, each file's samples after the previous file's, as if the
// run had been written to one file: its gaps are where the time steps say,
// not where a file ends. Every file must have the first one's header, the
// time must not go back from one file to the next, and only the last file
// may end inside a line. The messages name the file. One path reads as
// readRecording does.
ReadOutcome readRecordingFiles(const std::vector<std::string>& paths,
                               const ReadOptions& options = {});
// The same from bytes in memory.
ReadOutcome readRecordingBytes(std::string_view bytes, const ReadOptions& options = {});

}  // namespace tarvelo::recording
