#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/program_text.h"
#include "app/settings.h"
#include "app/uitext.h"
#include "device/replies.h"
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

// The tables of tests/core/data/tables.tsv, transcribed independently of the
// code: the one place where the program's texts and value tables are checked
// word for word. Everywhere else tests look texts up by entry.
struct Tables {
    // texts[row][entry], rows 1..4; entries past a row's last text are empty.
    std::vector<std::string> texts[UiText::kRows];
    // Menu captions by item: at start, then German .. Italian (nullopt: unchanged).
    std::vector<std::pair<std::string, std::vector<std::optional<std::string>>>> menus;
    // Sample intervals by index: the label and the records per sample.
    std::vector<std::pair<std::string, int>> intervals;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

const Tables& tables() {
    static const Tables loaded = [] {
        Tables t;
        std::ifstream in(TARVELO_TEST_DATA_DIR "/tables.tsv");
        EXPECT_TRUE(in) << "tables.tsv";
        auto place = [](std::vector<std::string>& row, std::size_t entry, std::string text) {
            if (row.size() <= entry)
                row.resize(entry + 1);
            row[entry] = text == "(none)" ? std::string() : std::move(text);
        };
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#')
                continue;
            const std::vector<std::string> f = splitTabs(line);
            if (f[0] == "text" && f.size() == 5) {
                for (int row = kGerman; row <= kFrench; ++row)
                    place(t.texts[row], std::stoul(f[1]), f[1 + row]);
            } else if (f[0] == "italian" && f.size() == 3) {
                place(t.texts[kItalian], std::stoul(f[1]), f[2]);
            } else if (f[0] == "menu" && f.size() == 7) {
                std::vector<std::optional<std::string>> captions;
                for (std::size_t k = 2; k < 7; ++k)
                    captions.push_back(f[k] == "(unchanged)" ? std::nullopt
                                                             : std::optional<std::string>(f[k]));
                t.menus.emplace_back(f[1], std::move(captions));
            } else if (f[0] == "interval" && f.size() == 4) {
                EXPECT_EQ(std::stoul(f[1]), t.intervals.size()) << line;
                t.intervals.emplace_back(f[2], std::stoi(f[3]));
            } else {
                ADD_FAILURE() << "unreadable line: " << line;
            }
        }
        return t;
    }();
    return loaded;
}

// The items of the menu table, by the names it uses.
constexpr std::pair<std::string_view, MenuItem> kMenuNames[] = {
    {"File", MenuItem::File},
    {"Export", MenuItem::Export},
    {"LoadFromFile", MenuItem::LoadFromFile},
    {"SaveToFile", MenuItem::SaveToFile},
    {"Setup", MenuItem::Setup},
    {"ExitProgram", MenuItem::ExitProgram},
    {"Samples", MenuItem::Samples},
    {"GetActualSample", MenuItem::GetActualSample},
    {"StartStopSampling", MenuItem::StartStopSampling},
    {"DeleteSampleData", MenuItem::DeleteSampleData},
    {"ShowGraphic", MenuItem::ShowGraphic},
    {"Statistic", MenuItem::Statistic},
    {"BatchToList", MenuItem::BatchToList},
    {"BatchToFile", MenuItem::BatchToFile},
    {"Help", MenuItem::Help},
    {"HelpFile", MenuItem::HelpFile},
    {"Info", MenuItem::Info},
};

TEST(TextTable, EveryLanguageRowAsTranscribed) {
    const UiText text;
    // German and English hold entries 0 to 53, French 0 to 51, Italian 0 to 4.
    const std::size_t lengths[] = {0, 54, 54, 52, 5};
    for (int row = kGerman; row <= kItalian; ++row) {
        std::vector<std::string> expected = tables().texts[row];
        ASSERT_GE(expected.size(), lengths[row]) << "row " << row;
        expected.resize(UiText::kSlots);  // every later slot is empty
        for (int slot = 0; slot < UiText::kSlots; ++slot)
            EXPECT_EQ(text.languageText(row, slot), expected[slot]) << row << "/" << slot;
        // A row ends at its first empty slot: no gap before its last text.
        for (std::size_t slot = 0; slot < lengths[row]; ++slot)
            EXPECT_FALSE(expected[slot].empty()) << row << "/" << slot;
        EXPECT_TRUE(expected[lengths[row]].empty()) << row;
    }
    // Every text survives the way to the 8-bit code page and back.
    for (int row = 1; row <= 4; ++row) {
        for (int slot = 0; slot < UiText::kSlots; ++slot) {
            const std::string& t = text.languageText(row, slot);
            EXPECT_EQ(cp1252ToUtf8(utf8ToCp1252(t)), t) << row << "/" << slot;
        }
    }
    // The typographic apostrophe becomes the code page's own.
    EXPECT_EQ(utf8ToCp1252(text.languageText(kFrench, 0)),
              "Connecter l\x92"
              "appareil");
}

TEST(TextMenuCaptions, EveryItemAndLanguageAsTranscribed) {
    ASSERT_EQ(tables().menus.size(), std::size(kMenuNames));
    for (std::size_t i = 0; i < std::size(kMenuNames); ++i) {
        const auto& [name, captions] = tables().menus[i];
        const auto [itemName, item] = kMenuNames[i];
        ASSERT_EQ(name, itemName);
        EXPECT_EQ(startCaption(item), *captions[0]) << name;
        for (int language = 0; language < 4; ++language) {
            const auto caption = menuCaption(language, item);
            EXPECT_EQ(caption.has_value(), captions[1 + language].has_value())
                << name << " " << language;
            if (caption && captions[1 + language]) {
                EXPECT_EQ(*caption, *captions[1 + language]) << name << " " << language;
            }
        }
        // A language outside the table sets no caption.
        EXPECT_EQ(menuCaption(4, item), std::nullopt) << name;
        EXPECT_EQ(menuCaption(-1, item), std::nullopt) << name;
    }
}

TEST(SampleIntervals, EveryIndexAsTranscribed) {
    ASSERT_EQ(tables().intervals.size(), 13u);
    for (int i = 0; i < 13; ++i) {
        EXPECT_STREQ(tarvelo::app::sampleRateLabel(i), tables().intervals[i].first.c_str()) << i;
        EXPECT_EQ(tarvelo::app::recordsPerSample(i), tables().intervals[i].second) << i;
    }
    // An index outside the list counts as the default (index 6) and has no label.
    for (int outside : {-1, 13, 1000}) {
        EXPECT_EQ(tarvelo::app::recordsPerSample(outside), tarvelo::app::recordsPerSample(6));
        EXPECT_STREQ(tarvelo::app::sampleRateLabel(outside), "");
    }
}

// The copy rule: a language's row overwrites the active slots up to its first
// empty slot; the later active slots keep what the language before left.
TEST(TextTable, ActiveRowFollowsTheCopyRule) {
    UiText text;
    for (int entry : {-1, 0, 200, 201})
        EXPECT_TRUE(text[entry].empty()) << entry;  // empty before any language

    // Every order of two languages, then a value outside 0..3.
    for (int first = 0; first < 4; ++first) {
        for (int second = 0; second < 4; ++second) {
            UiText active;
            EXPECT_TRUE(active.applyLanguage(first));
            EXPECT_TRUE(active.applyLanguage(second));
            EXPECT_FALSE(active.applyLanguage(4));
            EXPECT_FALSE(active.applyLanguage(-1));
            const auto& own = tables().texts[second + 1];
            const auto& before = tables().texts[first + 1];
            for (int slot = 0; slot < UiText::kSlots; ++slot) {
                const std::size_t s = static_cast<std::size_t>(slot);
                const std::string expected = s < own.size() && !own[s].empty() ? own[s]
                                             : s < before.size()               ? before[s]
                                                                               : std::string();
                EXPECT_EQ(active[slot], expected) << first << " then " << second << ": " << slot;
            }
        }
    }
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

// ---- the manual's list of messages --------------------------------------

// The first cell of every row of the manual's message table ("messages"),
// as text: tags dropped, <br> a line break, entities decoded, blanks
// collapsed.
std::multiset<std::string> manualMessages(const std::string& page) {
    std::ifstream in(std::string(TARVELO_MANUAL_DIR) + "/" + page);
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::multiset<std::string> messages;
    const std::size_t heading = html.find("<h2 id=\"messages\">");
    const std::size_t begin = html.find("<table>", heading);
    const std::size_t end = html.find("</table>", begin);
    if (heading == std::string::npos || begin == std::string::npos || end == std::string::npos) {
        ADD_FAILURE() << page << ": no message table";
        return messages;
    }
    for (std::size_t row = html.find("<tr>", begin); row < end; row = html.find("<tr>", row + 1)) {
        const std::size_t cell = html.find("<td", row);
        const std::size_t next = html.find("<tr>", row + 1);
        if (cell == std::string::npos || cell > std::min(next, end))
            continue;  // the heading row
        const std::size_t open = html.find('>', cell) + 1;
        const std::string raw = html.substr(open, html.find("</td>", open) - open);
        std::string text;
        for (std::size_t i = 0; i < raw.size();) {
            if (raw.compare(i, 4, "<br>") == 0) {
                text += '\n';
                i += 4;
            } else if (raw[i] == '<') {
                i = raw.find('>', i) + 1;
            } else if (raw[i] == '&') {
                const std::size_t semicolon = raw.find(';', i);
                const std::string entity = raw.substr(i, semicolon + 1 - i);
                text += entity == "&gt;" ? ">" : entity == "&lt;" ? "<" : entity == "&amp;" ? "&" : "?";
                i = semicolon + 1;
            } else if (std::isspace(static_cast<unsigned char>(raw[i]))) {
                if (!text.empty() && text.back() != ' ' && text.back() != '\n')
                    text += ' ';
                ++i;
            } else {
                text += raw[i++];
            }
        }
        messages.insert(text);
    }
    return messages;
}

// A text as the manual lists it: placeholders as "…", no trailing blank.
std::string listed(std::string text) {
    for (const char* placeholder : {"%1", "%2", "%3", "%4", "%d"}) {
        for (std::size_t at; (at = text.find(placeholder)) != std::string::npos;)
            text.replace(at, 2, "\xE2\x80\xA6");
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// The manual of each language lists exactly the messages the program shows
// in that language, once each: the instrument's fixed English texts, the
// table's messages and every text of program_text but the few that are no
// message (captions, titles, buttons, tooltips, status texts).
TEST(ManualMessages, EachManualListsExactlyTheProgramsMessages) {
    using tarvelo::app::ProgramText;
    const std::set<ProgramText> notMessages{
        ProgramText::BannerSubtitle,     ProgramText::WorkbookSaveTitle,
        ProgramText::BatchRecordsRead,   ProgramText::BatchTimeLeft,
        ProgramText::RecordTitle,        ProgramText::RecordingStarted,
        ProgramText::RecordingOn,        ProgramText::GraphImageButton,
        ProgramText::GraphImageTitle,    ProgramText::GraphImageFilter,
        ProgramText::GraphChartTooltip,  ProgramText::StatisticsCopyButton,
        ProgramText::HelpCaption,        ProgramText::OpenRecordingMenu,
        ProgramText::OpenRecordingTitle, ProgramText::RecordingFilter,
        ProgramText::RecordingOpening,   ProgramText::RecordingCancel,
        ProgramText::RecordingWholeRun,  ProgramText::RecordingUndoZoom,
        ProgramText::RecordingViewTooltip, ProgramText::RecordingCutLastLine,
        ProgramText::RecordingGaps,      ProgramText::RecordingTakeIntoMemory,
        ProgramText::RecordingExportStretch, ProgramText::RecordingExportTitle,
        ProgramText::RecordingExportFilter, ProgramText::RecordingExportWriting,
    };
    namespace device = tarvelo::device;
    const char* const fixedTexts[] = {device::kSendError, device::kErrX00, device::kErrM01,
                                      device::kErrM11,    device::kErrM40, device::kErrM21,
                                      device::kErrM31,    device::kErrM5,  device::kErrM6};
    // Connection failed (status bar), file format error, the question before
    // clearing, the two range messages of the graph.
    const int tableMessages[] = {1, 12, 27, 33, 35};
    const UiText table;
    const char* const pages[] = {"manual_de.html", "manual_en.html", "manual_fr.html"};
    for (int language = 0; language < 3; ++language) {
        SCOPED_TRACE(pages[language]);
        std::multiset<std::string> expected;
        for (const char* text : fixedTexts)
            expected.insert(listed(text));
        for (int entry : tableMessages)
            expected.insert(listed(table.languageText(language + 1, entry)));
        for (int id = 0; id < static_cast<int>(ProgramText::Count); ++id) {
            const auto text = static_cast<ProgramText>(id);
            if (!notMessages.count(text))
                expected.insert(listed(std::string(tarvelo::app::programText(text, language))));
        }
        const std::multiset<std::string> manual = manualMessages(pages[language]);
        for (const std::string& text : expected)
            EXPECT_EQ(manual.count(text), 1u) << "not listed once: " << text;
        for (const std::string& text : manual)
            EXPECT_EQ(expected.count(text), 1u) << "not a message of the program: " << text;
    }
}

}  // namespace
