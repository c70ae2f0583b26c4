#include "app/program_text.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <locale.h>

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
    {ProgramText::SettingsNotSaved, "Die Einstellungen konnten nicht in %1 gespeichert werden.\n%2",
     "The settings could not be saved in %1.\n%2",
     "Impossible d’enregistrer les paramètres dans %1.\n%2"},

    // Files, saving and export
    {ProgramText::SaveFailed, "Die Datei konnte nicht gespeichert werden.",
     "The file could not be saved.", "Le fichier n\u2019a pas pu \u00eatre enregistr\u00e9."},
    {ProgramText::LoadFailed, "Die Datei konnte nicht gelesen werden.",
     "The file could not be read.", "Le fichier n\u2019a pas pu \u00eatre lu."},
    {ProgramText::WriteFailed, "Die Datei konnte nicht geschrieben werden.",
     "The file could not be written.", "Le fichier n\u2019a pas pu \u00eatre \u00e9crit."},

    // Spreadsheet
    {ProgramText::WorkbookSaveTitle, "Arbeitsmappe speichern unter...", "Save workbook as...",
     "Enregistrer le classeur sous..."},
    {ProgramText::WorkbookNoApplication,
     "Keine Tabellenkalkulation konnte gestartet werden. Die Arbeitsmappe ist gespeichert als\n%1",
     "No spreadsheet application could be started. The workbook has been saved as\n%1",
     "Aucun tableur n’a pu être démarré. Le classeur est enregistré "
     "sous\n%1"},

    // Batch readout and recording
    {ProgramText::BatchRecordsRead, "%1 von %2 Datensätzen gelesen", "%1 of %2 records read",
     "%1 sur %2 enregistrements lus"},
    {ProgramText::BatchTimeLeft, "noch etwa %1", "about %1 left", "encore environ %1"},
    {ProgramText::BatchLostToFile,
     "Das Messgerät ist nicht mehr erreichbar. %1 von %2 Datensätzen wurden gelesen; sie stehen "
     "in %3.",
     "The instrument can no longer be reached. %1 of %2 records were read; they are in %3.",
     "L'appareil n'est plus joignable. %1 sur %2 enregistrements ont été lus ; ils se trouvent "
     "dans %3."},
    {ProgramText::BatchCancelledToFile,
     "Das Auslesen wurde abgebrochen. %1 von %2 Datensätzen wurden gelesen; sie stehen in %3.",
     "The readout was cancelled. %1 of %2 records were read; they are in %3.",
     "La lecture a été annulée. %1 sur %2 enregistrements ont été lus ; ils se trouvent dans "
     "%3."},
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
    {ProgramText::StreamInterrupted,
     "Der Datenstrom war unterbrochen; etwa %1 Datensätze fehlen.",
     "The data stream was interrupted; about %1 records are missing.",
     "Flux interrompu ; il manque environ %1 enregistrements."},
    {ProgramText::StreamInterruptedUnknown,
     "Der Datenstrom war unterbrochen; fehlende Datensätze unbekannt.",
     "The data stream was interrupted; the records missing are not known.",
     "Flux interrompu ; enregistrements manquants inconnus."},

    // Graph, statistics and printout
    {ProgramText::PrintFailed, "Die Seite konnte nicht gedruckt werden.",
     "The page could not be printed.", "La page n\u2019a pas pu \u00eatre imprim\u00e9e."},

    // Graph image, copy and wheel zoom
    {ProgramText::GraphImageButton, "Bild...", "Image...", "Image..."},
    {ProgramText::GraphImageTitle, "Grafik als Bild speichern", "Save graph as image",
     "Enregistrer le graphique comme image"},
    // The first pattern of the chosen filter decides the file's format.
    {ProgramText::GraphImageFilter, "PNG-Bild (*.png);;SVG-Zeichnung (*.svg);;PDF-Dokument (*.pdf)",
     "PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)",
     "Image PNG (*.png);;Dessin SVG (*.svg);;Document PDF (*.pdf)"},
    {ProgramText::GraphImageFailed, "Das Bild konnte nicht gespeichert werden:",
     "The image could not be saved:", "L'image n'a pas pu être enregistrée :"},
    {ProgramText::GraphChartTooltip,
     "Zoomen: mit der linken Maustaste ein Rechteck ziehen oder das Mausrad drehen.\n"
     "Verschieben: mit der mittleren Maustaste ziehen oder die Pfeiltasten benutzen.\n"
     "Zoom und Verschieben zurücknehmen: rechte Maustaste klicken.\n"
     "Strg+C kopiert die Grafik.",
     "Zoom: drag a rectangle with the left mouse button, or turn the mouse wheel.\n"
     "Pan: drag with the middle mouse button, or use the arrow keys.\n"
     "Undo zoom and pan: click the right mouse button.\n"
     "Ctrl+C copies the graph.",
     "Zoom : tracer un rectangle avec le bouton gauche ou tourner la molette.\n"
     "Déplacer : faire glisser avec le bouton du milieu ou utiliser les flèches.\n"
     "Annuler zoom et déplacement : cliquer avec le bouton droit.\n"
     "Ctrl+C copie le graphique."},
    {ProgramText::StatisticsCopyButton, "Kopieren", "Copy", "Copier"},

    // Recordings opened in a window of their own
    {ProgramText::OpenRecordingMenu, "&Aufzeichnung \u00f6ffnen...", "&Open recording...",
     "Ouvrir un en&registrement..."},
    {ProgramText::OpenRecordingTitle, "Aufzeichnung \u00f6ffnen", "Open recording",
     "Ouvrir un enregistrement"},
    {ProgramText::RecordingFilter, "Aufzeichnungen (*.asc *.csv *.part);;Alle Dateien (*)",
     "Recordings (*.asc *.csv *.part);;All files (*)",
     "Enregistrements (*.asc *.csv *.part);;Tous les fichiers (*)"},
    {ProgramText::RecordingRunNotAPart,
     "%1 ist kein Teil einer aufgeteilten Aufzeichnung: Sein Name endet nicht auf -0001, "
     "-0002, ...",
     "%1 is not a part of a split recording: its name does not end in -0001, -0002, ...",
     "%1 n\u2019est pas une partie d\u2019un enregistrement d\u00e9coup\u00e9 : son nom ne se "
     "termine pas par -0001, -0002, ..."},
    {ProgramText::RecordingRunOtherRun, "%1 geh\u00f6rt zu einer anderen Aufzeichnung als %2.",
     "%1 belongs to another recording than %2.",
     "%1 appartient \u00e0 un autre enregistrement que %2."},
    {ProgramText::RecordingRunTwice, "%1 und %2 sind derselbe Teil der Aufzeichnung.",
     "%1 and %2 are the same part of the recording.",
     "%1 et %2 sont la m\u00eame partie de l\u2019enregistrement."},
    {ProgramText::RecordingRunMissing,
     "%1 fehlt: Die Teile einer Aufzeichnung m\u00fcssen l\u00fcckenlos aufeinander folgen.",
     "%1 is missing: the parts of a recording must follow one another without a gap.",
     "%1 manque : les parties d\u2019un enregistrement doivent se suivre sans interruption."},
    {ProgramText::RecordingRunUnfinished,
     "%1 wurde nicht fertig geschrieben, ist aber nicht der letzte Teil der Aufzeichnung.",
     "%1 was not finished, but it is not the last part of the recording.",
     "%1 n\u2019a pas \u00e9t\u00e9 termin\u00e9, mais ce n\u2019est pas la derni\u00e8re partie de "
     "l\u2019enregistrement."},
    {ProgramText::RecordingOpenFailed, "Die Aufzeichnung konnte nicht ge\u00f6ffnet werden.",
     "The recording could not be opened.",
     "L\u2019enregistrement n\u2019a pas pu \u00eatre ouvert."},
    {ProgramText::RecordingOpening, "%1 wird ge\u00f6ffnet...", "Opening %1...",
     "Ouverture de %1..."},
    {ProgramText::RecordingCancel, "Abbrechen", "Cancel", "Annuler"},
    {ProgramText::RecordingWholeRun, "Ganze Aufzeichnung", "Whole run",
     "Tout l\u2019enregistrement"},
    {ProgramText::RecordingUndoZoom, "Zoom zur\u00fcck", "Undo zoom", "Annuler le zoom"},
    {ProgramText::RecordingViewTooltip,
     "Mausrad: zoomen \u2013 Ziehen: verschieben \u2013 mit der rechten Maustaste (oder Umschalt) "
     "ziehen: Ausschnitt vergr\u00f6\u00dfern",
     "Wheel: zoom \u2013 drag: pan \u2013 drag with the right button (or Shift): zoom into the "
     "box",
     "Molette : zoomer \u2013 glisser : d\u00e9placer \u2013 glisser avec le bouton droit (ou "
     "Maj) : agrandir le cadre"},
    {ProgramText::RecordingCutLastLine,
     "Die letzte Zeile war unvollst\u00e4ndig und wurde ausgelassen.",
     "The last line was incomplete and has been left out.",
     "La derni\u00e8re ligne \u00e9tait incompl\u00e8te et a \u00e9t\u00e9 ignor\u00e9e."},
    {ProgramText::RecordingGaps, "L\u00fccken: %1 (\u00fcblicher Abstand %2 ms)",
     "Gaps: %1 (usual step %2 ms)", "Lacunes : %1 (pas habituel %2 ms)"},
    {ProgramText::RecordingTakeIntoMemory, "In den Speicher \u00fcbernehmen", "Take into memory",
     "Copier dans la m\u00e9moire"},
    {ProgramText::RecordingTakeTooLong,
     "Im sichtbaren Ausschnitt liegen %1 Messwerte, der Messwertspeicher fasst h\u00f6chstens %2.\n"
     "Bitte mindestens um das %3-Fache vergr\u00f6\u00dfern (auf %4 oder weniger).",
     "The visible stretch holds %1 samples; the sample memory takes at most %2.\n"
     "Zoom in at least %3 times (to %4 or less).",
     "L\u2019extrait visible contient %1 mesures ; la m\u00e9moire en accepte au plus %2.\n"
     "Agrandissez au moins %3 fois (jusqu\u2019\u00e0 %4 ou moins)."},
    {ProgramText::RecordingMemoryBusy,
     "Der Messwertspeicher kann nicht ersetzt werden, solange gemessen oder der Batchspeicher "
     "ausgelesen wird.",
     "The sample memory cannot be replaced while sampling or a batch readout is running.",
     "La m\u00e9moire des mesures ne peut pas \u00eatre remplac\u00e9e pendant l\u2019acquisition "
     "ou la lecture de la m\u00e9moire batch."},
    {ProgramText::RecordingExportStretch, "Ausschnitt exportieren...", "Export stretch...",
     "Exporter l\u2019extrait..."},
    {ProgramText::RecordingExportTitle, "Ausschnitt exportieren", "Export stretch",
     "Exporter l\u2019extrait"},
    {ProgramText::RecordingExportFilter,
     "Exporttext (*.asc);;CSV-Datei (*.csv);;Arbeitsmappe (*.xlsx)",
     "Export text (*.asc);;Comma-separated values (*.csv);;Workbook (*.xlsx)",
     "Texte d\u2019export (*.asc);;Valeurs s\u00e9par\u00e9es par des virgules (*.csv);;"
     "Classeur (*.xlsx)"},
    {ProgramText::RecordingWorkbookTooLong,
     "Eine Arbeitsmappe fasst h\u00f6chstens %1 Messwerte, im sichtbaren Ausschnitt liegen %2.\n"
     "Bitte vergr\u00f6\u00dfern oder als .asc oder .csv exportieren. Es wurde nichts "
     "geschrieben.",
     "A workbook holds at most %1 samples; the visible stretch holds %2.\n"
     "Zoom in, or export to .asc or .csv. Nothing was written.",
     "Un classeur contient au plus %1 mesures ; l\u2019extrait visible en contient %2.\n"
     "Agrandissez ou exportez en .asc ou .csv. Rien n\u2019a \u00e9t\u00e9 \u00e9crit."},
    {ProgramText::RecordingExportWriting, "%1 wird geschrieben...", "Writing %1...",
     "\u00c9criture de %1..."},

    // Help
    {ProgramText::HelpCaption, "Hilfe", "Help", "Aide"},
    {ProgramText::HelpPageMissing, "Die Hilfeseite wurde nicht gefunden:\n%1",
     "The help page was not found:\n%1", "La page d'aide est introuvable :\n%1"},
    {ProgramText::HelpNoViewer,
     "Die Hilfeseite konnte nicht geöffnet werden: Es wurde kein Programm gefunden, das sie "
     "anzeigt.\n%1",
     "The help page could not be opened: no program to show it was found.\n%1",
     "La page d'aide n'a pas pu être ouverte : aucun programme pour l'afficher n'a été "
     "trouvé.\n%1"},
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

std::string systemErrorText(int errorNumber, int language) {
    const char* const localeName = language == 0   ? "de_DE.UTF-8"
                                   : language == 2 ? "fr_FR.UTF-8"
                                                   : "C.UTF-8";
    const locale_t locale = ::newlocale(LC_ALL_MASK, localeName, locale_t{});
    if (!locale)
        return std::strerror(errorNumber);
    std::string text = ::strerror_l(errorNumber, locale);
    ::freelocale(locale);
    return text;
}

}  // namespace tarvelo::app
