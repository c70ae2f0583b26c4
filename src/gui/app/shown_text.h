#pragma once

#include <string>
#include <string_view>

#include <QString>

#include "app/program_text.h"

namespace tarvelo::gui {

// A text of the program's own table in the given language, for a window.
inline QString shownText(app::ProgramText id, int language) {
    const std::string_view text = app::programText(id, language);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A failure box's text: what failed, then the file the operator chose and
// the system's reason, all in the chosen language. A failure without a
// system error (`errorNumber` 0) gives the writer's own detail instead.
QString failureText(app::ProgramText what, int language, const QString& path, int errorNumber,
                    const std::string& detail);

// What a save dialog says when the chosen path lies in a folder that does not
// exist; the empty text when the folder is there.
QString missingFolderText(const QString& path, int language);

}  // namespace tarvelo::gui
