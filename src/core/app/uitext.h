#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelo::app {

// The table of user-interface texts: row 0 holds the active texts that every
// window reads by entry number, rows 1 to 4 German, English, French and
// Italian. Texts are UTF-8. Used by the user-interface thread only.
class UiText {
public:
    static constexpr int kRows = 5;
    static constexpr int kSlots = 201;

    // Rows 1 to 4 are filled here once; the active row starts empty.
    UiText();

    // Entry n of the active row; an entry the row lacks (or n outside the
    // table) reads as the empty text.
    const std::string& operator[](int entry) const;
    const std::string& text(int entry) const { return (*this)[entry]; }

    // Language row text (row 1..4), for tests and tools.
    const std::string& languageText(int row, int entry) const;

    // Copies the row of `language` (0 German .. 3 Italian) into the active row
    // from slot 0 up to its first empty slot; later active slots keep their
    // text. Any other language value copies nothing. Returns whether a row
    // was copied.
    bool applyLanguage(int language);

private:
    std::array<std::array<std::string, kSlots>, kRows> rows_;
};

// The main window's menus and menu items, in menu order.
enum class MenuItem {
    File,  // Datei1
    Export,
    LoadFromFile,
    SaveToFile,
    Setup,
    ExitProgram,
    Samples,  // Samples1
    GetActualSample,
    StartStopSampling,
    DeleteSampleData,
    ShowGraphic,
    Statistic,
    BatchToList,  // Batchlesen1
    BatchToFile,
    RecordToFile,  // recording of the samples to a file, switched on and off
    Help,          // N2, the "?" menu
    HelpFile,      // Hilfe1
    Info,
};
inline constexpr int kMenuItemCount = 18;

// The caption an item has before any language has set it.
std::string_view startCaption(MenuItem item);
// The caption a language gives an item; nullopt where the language leaves
// the item's caption unchanged (and for any language outside 0..3).
std::optional<std::string_view> menuCaption(int language, MenuItem item);

}  // namespace tarvelo::app
