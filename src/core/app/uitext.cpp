#include "app/uitext.h"

namespace tarvelo::app {

namespace {

// German, English, French per entry; nullptr: the slot stays empty.
constexpr const char* kLanguageTexts[54][3] = {
    {"Verbinde zum Messgerät", "Connecting to Device", "Connecter l’appareil"},
    {"Verbindung zum Messgerät fehlgeschlagen", "Connection to Device failed", "Connexion échouée"},
    {"Verbindung zum Messgerät beendet", "Connection to Device terminated", "Connexion  terminée"},
    {"Sende Daten an Messgerät", "Sending data to Device", "Envoi des données"},
    {"Daten vom Messgerät empfangen", "Data from Device received", "Data from Device received"},
    {"Datenempfang starten", "Start Data sampling", "Start Data sampling"},
    {"Zeit", "Time", "Temps"},
    {"Kanal 1", "Channel 1", "Canal 1"},
    {"Kanal 2", "Channel 2", "Canal 2"},
    {"Kanal 3", "Channel 3", "Canal 3"},
    {"Kanal 4", "Channel 4", "Canal 4"},
    {"Datenampfang beenden", "Stop Data sampling", "Arrêt mesures"},
    {"Fehlerhaftes Dateiformat", "File format error", "Erreur de format dossier"},
    {"Aktuellen Messwert holen", "Get actual sample", "Mesure immédiate"},
    {"Messwerte löschen", "Delete Sample Data", "Effacer les mesures"},
    {"Datenempfang starten", "Start Data sampling", "Enregistrement mesures"},
    {"Daten exportieren", "Export Data", "Exporter mesures"},
    {"Daten laden", "Load from file", "Ouvrir à partir de"},
    {"Daten speichern", "Save to file", "Enregistrer"},
    {"Grafik anzeigen", "Show Graphics", "Afficher graphiques"},
    {"Statistik", "Statistics", "Statistiques"},
    {"IP-Adresse Messgerät", "IP Adress Device", "Adressage IP"},
    {"Sample rate", "Sample rate", "Fréquence d’échantillonnage"},
    {"Sprache", "Language", "Langue"},
    {"Abbrechen", "Cancel", "Annuler"},
    {"Speichern unter...", "Save data as...", "Enregistrer sous..."},
    {"Daten laden...", "Load data...", "Ouvrir..."},
    {"Soll der Messwertspeicher gelöscht werden?", "Should the measured value memory be deleted?",
     "La mesure enregistrée devrait être supprimée?"},
    {"Frage?", "Question?", "Question?"},
    {"Daten exportieren", "Export data", "Exporter les mesures"},
    {"Excel (OLE)", "Excel (OLE)", "Excel (OLE)"},
    {"Zwischenablage", "Clipboard", "Presse-papiers"},
    {"Datei", "File", "Dossier"},
    {"Max x Wert muss größer als Min x Wert sein", "Max x value must be greater than Min x value",
     "Valeur Max de x doit être > valeur Min. de x"},
    {"Fehler", "Error", "Erreur"},
    {"Max y Wert muss größer als Min y Wert sein", "Max y value must be greater than Min y value",
     "Valeur max de y doit être > valeur min. de y"},
    {"Grafik", "Grafic", "Graphique"},
    {"Autoskalierung X-Achse", "Autoscale X-Axis", "Echelle automatique des X"},
    {"Autoskalierung Y-Achse", "Autoscale Y-Axis", "Echelle automatique des Y"},
    {"Legende anzeigen", "Show Legend", "Montrez la légende"},
    {"Skalieren", "Rescale", "Remettre à l’échelle"},
    {"Drucken", "Print", "Imprimer"},
    {"Anzahl Datensätze: %d", "Number of datasets: %d", "Nombre de données: %d"},
    {"Minimalwert:", "Minimum value:", "Valeur minimum:"},
    {"Maximalwert:", "Maximum value:", "Valeur maximum:"},
    {"Mittelwert:", "Average value:", "Valeur moyenne:"},
    {"Standardabweichung:", "Standard deviation:", "Écart type:"},
    {"Konfigurieren", "Config", "Option"},
    {"Auto-Refresh", "Auto-Refresh", "Voiture mettre"},
    {"Große Messwertanzeige", "Big meas. value", "Grande valeur mesurée"},
    {"Messwertanzeige", "Measured value announcement", "Annonce de valeur mesurée"},
    {"Kanal", "Channel", "Canal"},
    {"Batchspeicher exportieren", "Export batch memory", nullptr},
    {"Batchspeicher wird ausgelesen", "Batch memory reading", nullptr},
};
constexpr const char* kItalianTexts[5] = {
    "Collegare con il server",
    "Collegamento con il server fallito",
    "Collegamento con il server completato",
    "Invio dati al server",
    "Ricezione dati dal server",
};
// Per menu item: at start, German, English, French, Italian.
constexpr const char* kMenuCaptions[kMenuItemCount][5] = {
    {"&File", "&Datei", "&File", "&Dossier", "&Archivio"},  // Datei1
    {"&Export data", "&Exportieren", "&Export data", "&Exporter mesures",
     "M&essa a punto"},  // Export1
    {"&Load from file...", "&Laden...", "&Load from file...", "&Ouvrir à partir de...",
     nullptr},  // Loadfromfile1
    {"&Save to file...", "&Speichern unter...", "&Save to file...", "&Enregistrer...",
     nullptr},                                                                      // Savetofile1
    {"S&etup", "&Einstellungen", "S&etup", "S&etup", nullptr},                      // Setup1
    {"Exit Program", "Programmende", "Exit Program", "Fin de programme", nullptr},  // ProgrammEnde1
    {"&Samples", "&Messdaten", "&Samples", "&Données", nullptr},                    // Samples1
    {"Ge&t actual sample", "Aktuellen Messwert holen", "Ge&t actual sample",
     "Une valeur mesurée actuelle prendre", nullptr},  // Getactualsample1
    {"&Start/Stop data sampling", "&Start/Stop Datenempfang", "&Start/Stop data sampling",
     "Enregistrement/Arrêt mesures", nullptr},  // StartStopdatasampling1
    {"&Delete Sample Data", "Messwertspeicher löschen", "&Delete Sample Data",
     "Effacer les mesures", nullptr},  // DeleteSampleData1
    {"Show &graphic", "Grafik anzeigen", "Show &graphic", "Afficher graphiques",
     nullptr},                                                            // Showgraphic1
    {"St&atistic", "St&atistik", "St&atistic", "Statistiques", nullptr},  // Statistic1
    {"Batch to memory", "&Batchspeicher auslesen", "Batch to &list", nullptr,
     nullptr},  // Batchlesen1
    {"Batch to file", "Batchspeicher &exportieren", "Batch to &file", nullptr,
     nullptr},  // Batchtofile1
    {"&Record to file...", "Auf&zeichnen in Datei...", "&Record to file...",
     "Enregistrer en &continu...", nullptr},            // Recordtofile1
    {"?", "?", "?", "?", nullptr},                      // N2
    {"&Hilfe", "&Hilfe", "&Help", "&L'aide", nullptr},  // Hilfe1
    {"&Info", "&Info", "&Info", "&Înfo", nullptr},      // Info1
};

const std::string kEmpty;

}  // namespace

UiText::UiText() {
    for (int entry = 0; entry < 54; ++entry) {
        for (int language = 0; language < 3; ++language) {
            if (const char* text = kLanguageTexts[entry][language]) {
                rows_[language + 1][entry] = text;
            }
        }
    }
    for (int entry = 0; entry < 5; ++entry)
        rows_[4][entry] = kItalianTexts[entry];
}

const std::string& UiText::operator[](int entry) const {
    if (entry < 0 || entry >= kSlots)
        return kEmpty;
    return rows_[0][entry];
}

const std::string& UiText::languageText(int row, int entry) const {
    if (row < 1 || row >= kRows || entry < 0 || entry >= kSlots)
        return kEmpty;
    return rows_[row][entry];
}

bool UiText::applyLanguage(int language) {
    if (language < 0 || language > 3)
        return false;
    const auto& source = rows_[language + 1];
    // A language row ends at its first empty slot; the active slots from there
    // on keep the text of the language applied before.
    for (int slot = 0; slot < kSlots && !source[slot].empty(); ++slot)
        rows_[0][slot] = source[slot];
    return true;
}

std::string_view startCaption(MenuItem item) {
    return kMenuCaptions[static_cast<int>(item)][0];
}

std::optional<std::string_view> menuCaption(int language, MenuItem item) {
    const int index = static_cast<int>(item);
    if (language < 0 || language > 3 || index < 0 || index >= kMenuItemCount)
        return std::nullopt;
    const char* caption = kMenuCaptions[index][language + 1];
    if (!caption)
        return std::nullopt;
    return std::string_view(caption);
}

}  // namespace tarvelo::app
