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

    // Spreadsheet

    // Batch readout and recording
    {ProgramText::BatchRecordsRead, "%1 von %2 Datensätzen gelesen", "%1 of %2 records read",
     "%1 sur %2 enregistrements lus"},
    {ProgramText::BatchTimeLeft, "noch etwa %1", "about %1 left", "encore environ %1"},
    {ProgramText::BatchLostToFile,
     "Das Messgerät ist nicht mehr erreichbar. %1 von %2 Datensätzen wurden gelesen; es wurde "
     "keine Datei geschrieben.",
     "The instrument can no longer be reached. %1 of %2 records were read; no file was written.",
     "L'appareil n'est plus joignable. %1 sur %2 enregistrements ont été lus ; aucun fichier "
     "n'a été écrit."},
    {ProgramText::BatchLostToList,
     "Das Messgerät ist nicht mehr erreichbar. %1 von %2 Datensätzen wurden gelesen; die bisher "
     "gelesenen Zeilen wurden behalten.",
     "The instrument can no longer be reached. %1 of %2 records were read; the rows read so far "
     "were kept.",
     "L'appareil n'est plus joignable. %1 sur %2 enregistrements ont été lus ; les lignes lues "
     "jusqu'ici ont été conservées."},
    {ProgramText::FolderMissing, "Der Ordner existiert nicht:\n%1",
     "The folder does not exist:\n%1", "Le dossier n'existe pas :\n%1"},
    {ProgramText::RecordTitle, "In Datei aufzeichnen", "Record to file",
     "Enregistrer dans un fichier"},
    {ProgramText::RecordingStarted, "Aufzeichnung in %1", "Recording to %1",
     "Enregistrement dans %1"},
    {ProgramText::RecordingFailed, "Die Aufzeichnung in %1 wurde beendet: %2",
     "Recording to %1 was switched off: %2", "L'enregistrement dans %1 a été arrêté : %2"},
    {ProgramText::RecordingOn, "Aufzeichnung läuft", "Recording", "Enregistrement en cours"},

    // Graph, statistics and printout

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
