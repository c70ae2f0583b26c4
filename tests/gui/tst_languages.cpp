// Languages of the main window and the setup dialog: the copy rule, the
// menu captions per language, the list and button captions, Qt's own texts.

#include <initializer_list>
#include <string_view>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/msetup.h"
#include "support.h"

using tarvelo::app::MenuItem;
using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using State = ThauptFenster::StartupState;
using tarvelo::guitest::headerText;
using tarvelo::guitest::Rig;

namespace {

QString text(Rig& rig, int entry) {
    return QString::fromStdString(rig.values.uiText[entry]);
}

// Entry `entry` of a language's own row (0 German .. 3 Italian). The texts
// themselves are checked once, in the core's text table test.
QString own(Rig& rig, int language, int entry) {
    return QString::fromStdString(rig.values.uiText.languageText(language + 1, entry));
}

// The caption an item shows after the languages were applied in this order:
// the last one that sets it, else its start caption.
QString shownCaption(std::initializer_list<int> languages, MenuItem item) {
    std::string_view caption = tarvelo::app::startCaption(item);
    for (int language : languages)
        caption = tarvelo::app::menuCaption(language, item).value_or(caption);
    return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

void verifyMenus(ThauptFenster& w, std::initializer_list<int> languages) {
    for (int i = 0; i < tarvelo::app::kMenuItemCount; ++i) {
        const auto item = static_cast<MenuItem>(i);
        QCOMPARE(w.action(item)->text(), shownCaption(languages, item));
    }
}

// Menus, list columns and button captions as the languages applied in this
// order leave them (list columns without the units of a first contact).
void verifyCaptions(Rig& rig, std::initializer_list<int> languages) {
    ThauptFenster& w = rig.window();
    verifyMenus(w, languages);
    for (int column = 1; column <= 5; ++column)
        QCOMPARE(headerText(w, column).section(QStringLiteral(" ("), 0, 0),
                 text(rig, 5 + column));
    for (int i = 0; i < ThauptFenster::kButtonCount; ++i)
        QCOMPARE(w.buttonCaption(static_cast<Button>(i))->text(), text(rig, 13 + i));
}

// Runs the setup dialog modally; `inside` acts on it while it is open.
template <typename Inside>
void runSetup(Rig& rig, Inside inside) {
    // Whatever a failed check leaves open is closed, so the test cannot hang.
    QTimer::singleShot(5000, rig.windows.config, [&rig] { rig.windows.config->reject(); });
    QTimer::singleShot(0, [&rig, inside] {
        QTRY_VERIFY(rig.windows.config->isVisible());
        inside(*rig.windows.config);
    });
    rig.window().Setup1Click();
}

void pickLanguage(tarvelo::gui::Tconfig& config, int index) {
    config.languageList()->setCurrentIndex(index);
    emit config.languageList()->activated(index);
}

}  // namespace

class TestLanguages : public QObject {
    Q_OBJECT
private slots:
    void frenchAtStartLeavesBatchTextsEmpty();
    void germanToFrenchKeepsGermanBatchTexts();
    void italianAtStart();
    void languageOutsideTableCopiesNothing();
    void qtButtonsFollowLanguage();
};

void TestLanguages::frenchAtStartLeavesBatchTextsEmpty() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=2")});
    ThauptFenster& w = rig.start();
    verifyCaptions(rig, {2});
    QCOMPARE(text(rig, 51), own(rig, 2, 51));
    // French has no batch texts: the two entries stay empty.
    QCOMPARE(text(rig, 52), QString());
    QCOMPARE(text(rig, 53), QString());
    QCOMPARE(w.buttonCaption(Button::StartStopTransfer)->text(), own(rig, 2, 15));
}

void TestLanguages::germanToFrenchKeepsGermanBatchTexts() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=0")});
    ThauptFenster& w = rig.startReady();
    QCOMPARE(headerText(w, 2), own(rig, 0, 7) + QStringLiteral(" (N)"));
    verifyMenus(w, {0});
    int graphCalls = 0;
    w.setGraphApplyLanguage([&graphCalls] { ++graphCalls; });
    const QByteArray before = rig.readSettings();

    runSetup(rig, [&](tarvelo::gui::Tconfig& config) {
        QCOMPARE(config.languageLabel()->text(), own(rig, 0, 23));
        pickLanguage(config, 2);
        // In force at once, in the main window and in the dialog itself.
        QCOMPARE(config.languageLabel()->text(), own(rig, 2, 23));
        QCOMPARE(config.addressLabel()->text(), own(rig, 2, 21));
        QCOMPARE(config.cancelButton()->text(), own(rig, 2, 24));
        verifyMenus(w, {0, 2});
        config.cancelButton()->click();
    });

    QCOMPARE(graphCalls, 1);
    QCOMPARE(rig.values.settings.language.load(), 2);
    QCOMPARE(rig.readSettings(), before);  // cancelled: nothing written
    // The batch texts French lacks stay German, as do the batch menu items.
    QCOMPARE(text(rig, 52), own(rig, 0, 52));
    QCOMPARE(text(rig, 53), own(rig, 0, 53));
    QVERIFY(!text(rig, 52).isEmpty());
    verifyCaptions(rig, {0, 2});
    // The units of the first contact are gone with the new captions.
    QCOMPARE(headerText(w, 2), own(rig, 2, 7));
    QCOMPARE(headerText(w, 4), own(rig, 2, 9));
}

void TestLanguages::italianAtStart() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=3")});
    ThauptFenster& w = rig.startReady();
    // Italian sets two menu captions and five status texts only: the list
    // and button captions are empty.
    verifyCaptions(rig, {3});
    QCOMPARE(text(rig, 5), QString());
    QCOMPARE(headerText(w, 1), QString());
    // The first contact appends units to the empty captions.
    QCOMPARE(headerText(w, 2), QStringLiteral(" (N)"));
    QCOMPARE(headerText(w, 4), QStringLiteral(" (N.C.)"));
    QCOMPARE(w.statusText(), own(rig, 3, 2));
}

void TestLanguages::languageOutsideTableCopiesNothing() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=7")});
    rig.start();
    QCOMPARE(text(rig, 0), QString());
    verifyCaptions(rig, {});  // the start captions, empty texts
}

void TestLanguages::qtButtonsFollowLanguage() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=0")});
    rig.start();
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Ja"));
    rig.values.settings.language = 2;
    rig.window().ApplyLanguage();
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&Non"));
    rig.values.settings.language = 1;
    rig.window().ApplyLanguage();
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&No"), QStringLiteral("&No"));
}

QTEST_MAIN(TestLanguages)
#include "tst_languages.moc"
