#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/program_text.h"
#include "app/uitext.h"
#include "common/encoding.h"
#include "common/numbers.h"

namespace {

using tarvelo::app::menuCaption;
using tarvelo::app::MenuItem;
using tarvelo::app::startCaption;
using tarvelo::app::UiText;
using tarvelo::common::cp1252ToUtf8;
using tarvelo::common::formatFixed;
using tarvelo::common::utf8ToCp1252;

constexpr int kGerman = 1, kEnglish = 2, kFrench = 3, kItalian = 4;

// Index of the first empty slot of a language row: the number of texts it holds.
int rowLength(const UiText& text, int row) {
    int slot = 0;
    while (slot < UiText::kSlots && !text.languageText(row, slot).empty())
        ++slot;
    return slot;
}

TEST(TextTable, ExactTextsPerLanguage) {
    const UiText text;
    EXPECT_EQ(text.languageText(kGerman, 0), "Verbinde zum Messger\xC3\xA4t");
    EXPECT_EQ(text.languageText(kGerman, 33),
              "Max x Wert muss gr\xC3\xB6\xC3\x9F"
              "er als Min x Wert sein");
    EXPECT_EQ(text.languageText(kGerman, 11), "Datenampfang beenden");
    EXPECT_EQ(text.languageText(kEnglish, 2), "Connection to Device terminated");
    EXPECT_EQ(text.languageText(kEnglish, 42), "Number of datasets: %d");
    EXPECT_EQ(text.languageText(kEnglish, 53), "Batch memory reading");
    // Typographic apostrophe U+2019 and the double blank are part of the texts.
    EXPECT_EQ(text.languageText(kFrench, 0),
              "Connecter l\xE2\x80\x99"
              "appareil");
    EXPECT_EQ(text.languageText(kFrench, 22),
              "Fr\xC3\xA9quence d\xE2\x80\x99\xC3\xA9"
              "chantillonnage");
    EXPECT_EQ(text.languageText(kFrench, 40),
              "Remettre \xC3\xA0 l\xE2\x80\x99\xC3\xA9"
              "chelle");
    EXPECT_EQ(text.languageText(kFrench, 2),
              "Connexion  termin\xC3\xA9"
              "e");
    EXPECT_EQ(text.languageText(kFrench, 46),
              "\xC3\x89"
              "cart type:");
    EXPECT_EQ(text.languageText(kItalian, 4), "Ricezione dati dal server");
    // Every text survives the way to the 8-bit code page and back.
    for (int row = 1; row <= 4; ++row) {
        for (int slot = 0; slot < UiText::kSlots; ++slot) {
            const std::string& t = text.languageText(row, slot);
            EXPECT_EQ(cp1252ToUtf8(utf8ToCp1252(t)), t) << row << "/" << slot;
        }
    }
    EXPECT_EQ(utf8ToCp1252(text.languageText(kFrench, 0)),
              "Connecter l\x92"
              "appareil");
}

// "Open recording..." joins the File menu with an accelerator that no other
// item of that menu has, in each language.
TEST(TextTable, OpenRecordingHasAFreeAcceleratorInEachLanguage) {
    auto accelerator = [](std::string_view caption) {
        const auto at = caption.find('&');
        return at == std::string_view::npos || at + 1 >= caption.size()
                   ? '\0'
                   : static_cast<char>(std::tolower(static_cast<unsigned char>(caption[at + 1])));
    };
    for (int language = 0; language < 3; ++language) {
        const char own = accelerator(tarvelo::app::programText(
            tarvelo::app::ProgramText::OpenRecordingMenu, language));
        ASSERT_NE(own, '\0') << language;
        for (MenuItem item : {MenuItem::Export, MenuItem::LoadFromFile, MenuItem::SaveToFile,
                              MenuItem::Setup, MenuItem::ExitProgram}) {
            const auto caption = menuCaption(language, item);
            const std::string_view text = caption ? *caption : startCaption(item);
            EXPECT_NE(accelerator(text), own) << language << " " << text;
        }
    }
}

TEST(TextTable, RowShapes) {
    const UiText text;
    EXPECT_EQ(rowLength(text, kGerman), 54);
    EXPECT_EQ(rowLength(text, kEnglish), 54);
    EXPECT_EQ(rowLength(text, kFrench), 52);
    EXPECT_EQ(rowLength(text, kItalian), 5);
    // Nothing beyond the first empty slot either.
    for (int row = 1; row <= 4; ++row) {
        for (int slot = rowLength(text, row); slot < UiText::kSlots; ++slot) {
            EXPECT_TRUE(text.languageText(row, slot).empty()) << row << "/" << slot;
        }
    }
    EXPECT_EQ(text.languageText(kFrench, 51), "Canal");
}

TEST(TextTable, ActiveRowAndCopyRule) {
    UiText text;
    EXPECT_TRUE(text[0].empty());
    EXPECT_TRUE(text[200].empty());
    EXPECT_TRUE(text[201].empty());
    EXPECT_TRUE(text[-1].empty());

    // German, then French: entries 52 and 53 stay German.
    EXPECT_TRUE(text.applyLanguage(0));
    EXPECT_EQ(text[6], "Zeit");
    EXPECT_TRUE(text.applyLanguage(2));
    EXPECT_EQ(text[6], "Temps");
    EXPECT_EQ(text[15], "Enregistrement mesures");
    EXPECT_EQ(text[52], "Batchspeicher exportieren");
    EXPECT_EQ(text[53], "Batchspeicher wird ausgelesen");
    EXPECT_TRUE(text[54].empty());

    // A language outside 0..3 copies nothing.
    EXPECT_FALSE(text.applyLanguage(-1));
    EXPECT_FALSE(text.applyLanguage(4));
    EXPECT_EQ(text[6], "Temps");
}

TEST(TextTable, StartingInFrenchOrItalian) {
    UiText french;
    french.applyLanguage(2);
    EXPECT_TRUE(french[52].empty());
    EXPECT_TRUE(french[53].empty());
    EXPECT_EQ(french[5], "Start Data sampling");

    UiText italian;
    italian.applyLanguage(3);
    EXPECT_EQ(italian[0], "Collegare con il server");
    EXPECT_EQ(italian[4], "Ricezione dati dal server");
    for (int entry = 5; entry < UiText::kSlots; ++entry)
        EXPECT_TRUE(italian[entry].empty());
}

TEST(TextMenuCaptions, PerLanguageWithUnchangedCells) {
    EXPECT_EQ(startCaption(MenuItem::File), "&File");
    EXPECT_EQ(startCaption(MenuItem::BatchToList), "Batch to memory");
    EXPECT_EQ(startCaption(MenuItem::Info), "&Info");

    EXPECT_EQ(menuCaption(0, MenuItem::Setup), "&Einstellungen");
    EXPECT_EQ(menuCaption(0, MenuItem::BatchToFile), "Batchspeicher &exportieren");
    EXPECT_EQ(menuCaption(1, MenuItem::BatchToList), "Batch to &list");
    EXPECT_EQ(menuCaption(1, MenuItem::HelpFile), "&Help");
    EXPECT_EQ(menuCaption(2, MenuItem::LoadFromFile), "&Ouvrir \xC3\xA0 partir de...");
    EXPECT_EQ(menuCaption(2, MenuItem::Info),
              "&\xC3\x8E"
              "nfo");
    EXPECT_EQ(menuCaption(2, MenuItem::BatchToList), std::nullopt);
    EXPECT_EQ(menuCaption(2, MenuItem::BatchToFile), std::nullopt);

    // Italian sets only the File menu and its first item.
    EXPECT_EQ(menuCaption(3, MenuItem::File), "&Archivio");
    EXPECT_EQ(menuCaption(3, MenuItem::Export), "M&essa a punto");
    for (int i = 2; i < tarvelo::app::kMenuItemCount; ++i) {
        EXPECT_EQ(menuCaption(3, static_cast<MenuItem>(i)), std::nullopt) << i;
    }
    EXPECT_EQ(menuCaption(4, MenuItem::File), std::nullopt);
    EXPECT_EQ(menuCaption(-1, MenuItem::File), std::nullopt);
}

// The recording item's selection letter is free in the Samples menu in each
// language, also where a language leaves another item's caption as an
// earlier language set it.
TEST(MenuCaptions, RecordItemHasAFreeSelectionLetter) {
    auto letter = [](std::string_view caption) {
        const auto at = caption.find('&');
        return at == std::string_view::npos || at + 1 >= caption.size()
                   ? '\0'
                   : static_cast<char>(std::tolower(static_cast<unsigned char>(caption[at + 1])));
    };
    for (int language = 0; language <= 2; ++language) {
        const auto own = menuCaption(language, MenuItem::RecordToFile);
        ASSERT_TRUE(own.has_value());
        const char mine = letter(*own);
        ASSERT_NE('\0', mine) << language;
        for (int i = static_cast<int>(MenuItem::GetActualSample);
             i < static_cast<int>(MenuItem::RecordToFile); ++i) {
            const auto item = static_cast<MenuItem>(i);
            std::vector<std::string_view> captions;
            if (const auto caption = menuCaption(language, item))
                captions.push_back(*caption);
            else
                for (int other = 0; other <= 2; ++other)
                    captions.push_back(menuCaption(other, item).value_or(startCaption(item)));
            for (auto caption : captions)
                EXPECT_NE(mine, letter(caption)) << language << ": " << caption;
        }
    }
}

TEST(TextEncoding, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string utf8 = cp1252ToUtf8(all);
    EXPECT_EQ(utf8ToCp1252(utf8), all);

    // The code page's own characters and the five undefined bytes.
    EXPECT_EQ(cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
    EXPECT_EQ(cp1252ToUtf8("\x92"), "\xE2\x80\x99");
    for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::string expected{'\xC2', static_cast<char>(b)};
        EXPECT_EQ(cp1252ToUtf8(std::string(1, static_cast<char>(b))), expected);
    }
    EXPECT_EQ(cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextEncoding, UnitsAndUnrepresentableText) {
    EXPECT_EQ(utf8ToCp1252("\xC2\xB5m"), "\xB5m");
    EXPECT_EQ(utf8ToCp1252("\xC2\xB0"
                           "C"),
              "\xB0"
              "C");
    EXPECT_EQ(cp1252ToUtf8("\xB5m"), "\xC2\xB5m");
    EXPECT_EQ(cp1252ToUtf8("\xB0"
                           "C"),
              "\xC2\xB0"
              "C");

    EXPECT_EQ(utf8ToCp1252("a\xE2\x84\xA6"
                           "b"),
              "a?b");                                  // Ohm sign: not in the code page
    EXPECT_EQ(utf8ToCp1252("\xF0\x9F\x98\x80"), "?");  // one '?' per character
    EXPECT_EQ(utf8ToCp1252("x\xFFy"), "x?y");          // not UTF-8
    EXPECT_EQ(utf8ToCp1252("x\xC3"), "x?");            // cut-off sequence at the end
    EXPECT_EQ(utf8ToCp1252("\xC2\x80"), "?");          // U+0080 is not the euro sign
    EXPECT_EQ(utf8ToCp1252(""), "");

    // Long input crosses the converter's internal buffer.
    std::string longText;
    for (int i = 0; i < 3000; ++i)
        longText += "\xC3\xA9\xE2\x82\xAC";
    const std::string bytes = utf8ToCp1252(longText);
    ASSERT_EQ(bytes.size(), 6000u);
    EXPECT_EQ(cp1252ToUtf8(bytes), longText);
}

TEST(TextEncoding, SafeFromSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                if (cp1252ToUtf8(utf8ToCp1252("\xC2\xB5m \xE2\x82\xAC")) !=
                    "\xC2\xB5m \xE2\x82\xAC") {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}

TEST(TextNumbers, FixedWithSeparator) {
    EXPECT_EQ(formatFixed(12.345, 5, '.'), "12.34500");
    EXPECT_EQ(formatFixed(12.345, 5, ','), "12,34500");
    EXPECT_EQ(formatFixed(-0.003, 5, ','), "-0,00300");
    EXPECT_EQ(formatFixed(1234567.5, 2, '.'), "1234567.50");  // no thousands separator
    EXPECT_EQ(formatFixed(-0.0, 5, '.'), "-0.00000");         // as printf prints it
    EXPECT_EQ(formatFixed(-0.000001, 5, '.'), "-0.00000");
    EXPECT_EQ(formatFixed(2.5, 0, ','), "2");
    EXPECT_EQ(formatFixed(1e300, 5, '.').size(), 301u + 6u);
}

}  // namespace
