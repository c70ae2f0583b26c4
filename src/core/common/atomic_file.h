#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarvelo::common {

// How a file that exists is replaced.
enum class Replace {
    // Only atomically (a temporary file beside it, then a rename).
    Atomically,
    // Atomically where its folder can be written; a file that can be written
    // in a folder that cannot (a provisioned station) is rewritten in place.
    AtomicallyOrInPlace,
};

// Replaces the file at `path` by `bytes` so that the file is at any moment
// either the old one or the complete new one: the bytes go to a temporary
// file in the same folder, which is flushed to disk and then renamed over the
// target. On any failure the temporary file is removed, the target is left
// as it was and false is returned with a reason in `error` (if given) and
// errno set to the system's error number (0 when there is none).
//
// A symbolic link is written through: its target is replaced and the link
// stays. A file without write permission (mode 0444, say) is not replaced,
// whoever runs the program. A new file gets the permissions 0666 minus the
// umask; a replaced file keeps its permissions. The reason names `path`,
// never the temporary file.
//
// Temporary files of this program that a killed save left behind (their own
// name pattern, older than the running program, owned by this user) are
// removed from the folder before the new one is created.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* error = nullptr, Replace replace = Replace::Atomically);

// Receives a file's bytes piece by piece; false (errno set) when a write failed.
using ByteSink = std::function<bool(std::string_view)>;
// Hands a file's whole content to the sink, piece by piece; false to abandon
// the file (a failed sink, or the producer's own reason with errno set).
using ByteProducer = std::function<bool(const ByteSink&)>;

// writeFileAtomically for content that is written as it is made, never held
// whole: the same temporary file, rename and reasons. The old file stays as
// it was when the producer gives up.
bool writeFileAtomicallyFrom(const std::string& path, const ByteProducer& produce,
                             std::string* error = nullptr, Replace replace = Replace::Atomically);

// The name of the temporary file a save of `name` uses: "." + name +
// ".tarvelo~" and six random characters. True when `fileName` has that form.
bool isOwnTemporaryName(std::string_view fileName);

// Writes all of `bytes` to `fd`, going on after an interrupted or short
// write. False (errno set) when a write failed.
bool writeAll(int fd, std::string_view bytes);

// A write past the process's file-size limit (ulimit -f, a quota) raises
// SIGXFSZ, whose default action ends the process and tears the file. With the
// signal ignored the write fails with EFBIG instead, and every writer treats
// it as a full disk. The window program calls this once at start.
void ignoreFileSizeSignal();

// The folder part of `path`: "." for a bare name, "/" for a file in the root.
std::string folderOf(const std::string& path);

}  // namespace tarvelo::common
