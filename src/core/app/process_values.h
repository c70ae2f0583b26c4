#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "acquisition/measurement_memory.h"
#include "app/settings.h"
#include "app/uitext.h"
#include "device/mtrans.h"

namespace tarvelo::app {

// The values several windows and threads share. One object per program run
// (tests make their own), passed to whoever needs it.
struct ProcessValues {
    Settings settings;
    std::atomic<int32_t> socketTimeoutMs{1000};
    // The waits and time-outs of the worker threads (the presence probe and
    // the sampling thread). The program keeps the defaults; tests lengthen a
    // time-out to show that something else ends a wait.
    device::LinkTiming workerTiming;
    // The folder of the executable, without a trailing separator: the help
    // files are looked up there.
    std::string programDirectory;
    // The folder of the settings file and the file dialogs' start folder
    // (app/program_paths.h); empty means programDirectory.
    std::string settingsDirectory;
    std::string fileDialogDirectory;
    // The folder of the manual's HTML pages; empty means the folder "help"
    // beside the executable.
    std::string helpDirectory;
    std::atomic<bool> deviceReady{false};
    acquisition::MeasurementMemory memory;
    UiText uiText;

    std::string settingsFilePath() const {
        return (settingsDirectory.empty() ? programDirectory : settingsDirectory) + "/" +
               kSettingsFileName;
    }
    std::string helpFolder() const {
        return helpDirectory.empty() ? programDirectory + "/help" : helpDirectory;
    }
    const std::string& fileDialogFolder() const {
        return fileDialogDirectory.empty() ? programDirectory : fileDialogDirectory;
    }
};

}  // namespace tarvelo::app
