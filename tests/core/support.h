#pragma once

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
