#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "device/mtrans.h"

namespace tarvelo::test {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A wait on an event that has not come after this has hung: far above what
// any machine, however busy or slowed by a sanitizer, needs.
inline constexpr std::chrono::milliseconds kHung{30000};
// A time-out that must not be what ends a wait under test: only the event
// under test can end the wait before kHung.
inline constexpr std::chrono::milliseconds kNotReached = 3 * kHung;

// Polls `condition` until it holds (true) or `limit` has passed (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = kHung);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Records what the link reports instead of showing it.
class RecordingObserver : public device::LinkObserver {
public:
    void showStatus(int entry) override { statuses.push_back(entry); }
    void showSendError() override { ++sendErrors; }
    std::vector<int> statuses;
    int sendErrors = 0;
};

}  // namespace tarvelo::test
