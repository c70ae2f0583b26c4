#include "app/program_text.h"

#include <array>
#include <cstddef>

namespace tarvelo::app {

namespace {

struct Entry {
    ProgramText id;
    const char* german;
    const char* english;
    const char* french;
};

// One entry per ProgramText, in the enum's order (checked below).
constexpr Entry kEntries[] = {
    // Main window and shell
    {ProgramText::BannerSubtitle, "Vierkanal-Messung", "Four-channel measurement",
     "Mesure sur quatre canaux"},

    // Settings and setup

    // Files, saving and export
    {ProgramText::SaveFailed, "Die Datei konnte nicht gespeichert werden.",
     "The file could not be saved.", "Le fichier n\u2019a pas pu \u00eatre enregistr\u00e9."},
    {ProgramText::LoadFailed, "Die Datei konnte nicht gelesen werden.",
     "The file could not be read.", "Le fichier n\u2019a pas pu \u00eatre lu."},
    {ProgramText::WriteFailed, "Die Datei konnte nicht geschrieben werden.",
     "The file could not be written.", "Le fichier n\u2019a pas pu \u00eatre \u00e9crit."},

    // Spreadsheet

    // Batch readout and recording

    // Graph, statistics and printout
    {ProgramText::PrintFailed, "Die Seite konnte nicht gedruckt werden.",
     "The page could not be printed.", "La page n\u2019a pas pu \u00eatre imprim\u00e9e."},
    {ProgramText::ChartMouseHelp,
     "Zoomen: mit der linken Maustaste ein Rechteck aufziehen.\n"
     "Verschieben: mit der mittleren Maustaste ziehen oder die Pfeiltasten benutzen.\n"
     "Zoom und Verschiebung zur\u00fccknehmen: mit der rechten Maustaste klicken.",
     "Zoom: drag a rectangle with the left mouse button.\n"
     "Pan: drag with the middle mouse button, or use the arrow keys.\n"
     "Undo zoom and pan: click the right mouse button.",
     "Zoom\u00a0: tracer un rectangle avec le bouton gauche de la souris.\n"
     "D\u00e9placer\u00a0: faire glisser avec le bouton du milieu, ou utiliser les fl\u00e8ches.\n"
     "Annuler zoom et d\u00e9placement\u00a0: cliquer avec le bouton droit."},

    // Graph image, copy and wheel zoom

    // Help
};

constexpr bool inEnumOrder() {
    if (std::size(kEntries) != static_cast<std::size_t>(ProgramText::Count))
        return false;
    for (std::size_t i = 0; i < std::size(kEntries); ++i) {
        if (static_cast<std::size_t>(kEntries[i].id) != i)
            return false;
        if (!kEntries[i].german || !kEntries[i].english || !kEntries[i].french)
            return false;
    }
    return true;
}
static_assert(inEnumOrder(), "every ProgramText needs one entry, in enum order, in all three languages");

}  // namespace

std::string_view programText(ProgramText id, int language) {
    const auto index = static_cast<std::size_t>(id);
    if (index >= std::size(kEntries))
        return {};
    const Entry& entry = kEntries[index];
    switch (language) {
    case 0:
        return entry.german;
    case 2:
        return entry.french;
    default:
        return entry.english;
    }
}

}  // namespace tarvelo::app
