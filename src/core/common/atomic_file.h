#pragma once

#include <string>
#include <string_view>

namespace tarvelo::common {

// Replaces the file at `path` by `bytes` so that the file is at any moment
// either the old one or the complete new one: the bytes go to a temporary
// file in the same folder, which is flushed to disk and then renamed over the
// target. On any failure the temporary file is removed, the target is left
// as it was and false is returned with a reason in `error` (if given).
// A new file gets the permissions 0666 minus the umask; a replaced file keeps
// its permissions.
bool writeFileAtomically(const std::string& path, std::string_view bytes,
                         std::string* error = nullptr);

}  // namespace tarvelo::common
