#pragma once

#include <string_view>

#include <QString>

#include "app/program_text.h"

namespace tarvelo::gui {

// A text of the program's own table in the given language, for a window.
inline QString shownText(app::ProgramText id, int language) {
    const std::string_view text = app::programText(id, language);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tarvelo::gui
