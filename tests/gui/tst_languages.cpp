// Languages of the main window and the setup dialog: the copy rule, the
// menu captions per language, the list and button captions, Qt's own texts.

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
    QCOMPARE(text(rig, 51), QStringLiteral("Canal"));
    QCOMPARE(text(rig, 52), QString());
    QCOMPARE(text(rig, 53), QString());
    QCOMPARE(w.action(MenuItem::File)->text(), QStringLiteral("&Dossier"));
    QCOMPARE(w.action(MenuItem::Samples)->text(), QStringLiteral("&Donn\u00e9es"));
    QCOMPARE(w.action(MenuItem::BatchToList)->text(), QStringLiteral("Batch to memory"));
    QCOMPARE(w.action(MenuItem::BatchToFile)->text(), QStringLiteral("Batch to file"));
    QCOMPARE(w.action(MenuItem::HelpFile)->text(), QStringLiteral("&L'aide"));
    QCOMPARE(w.buttonCaption(Button::StartStopTransfer)->text(),
             QStringLiteral("Enregistrement mesures"));
    QCOMPARE(headerText(w, 1), QStringLiteral("Temps"));
    QCOMPARE(headerText(w, 5), QStringLiteral("Canal 4"));
}

void TestLanguages::germanToFrenchKeepsGermanBatchTexts() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=0")});
    ThauptFenster& w = rig.startReady();
    QCOMPARE(headerText(w, 2), QStringLiteral("Kanal 1 (N)"));
    QCOMPARE(w.action(MenuItem::BatchToList)->text(), QStringLiteral("&Batchspeicher auslesen"));
    int graphCalls = 0;
    w.setGraphApplyLanguage([&graphCalls] { ++graphCalls; });
    const QByteArray before = rig.readSettings();

    runSetup(rig, [&](tarvelo::gui::Tconfig& config) {
        QCOMPARE(config.languageLabel()->text(), QStringLiteral("Sprache"));
        pickLanguage(config, 2);
        // In force at once, in the main window and in the dialog itself.
        QCOMPARE(config.languageLabel()->text(), QStringLiteral("Langue"));
        QCOMPARE(config.addressLabel()->text(), QStringLiteral("Adressage IP"));
        QCOMPARE(config.cancelButton()->text(), QStringLiteral("Annuler"));
        QCOMPARE(w.action(MenuItem::File)->text(), QStringLiteral("&Dossier"));
        config.cancelButton()->click();
    });

    QCOMPARE(graphCalls, 1);
    QCOMPARE(rig.values.settings.language.load(), 2);
    QCOMPARE(rig.readSettings(), before);  // cancelled: nothing written
    QCOMPARE(text(rig, 52), QStringLiteral("Batchspeicher exportieren"));
    QCOMPARE(text(rig, 53), QStringLiteral("Batchspeicher wird ausgelesen"));
    QCOMPARE(text(rig, 13), QStringLiteral("Mesure imm\u00e9diate"));
    QCOMPARE(w.action(MenuItem::BatchToList)->text(), QStringLiteral("&Batchspeicher auslesen"));
    QCOMPARE(w.action(MenuItem::BatchToFile)->text(), QStringLiteral("Batchspeicher &exportieren"));
    QCOMPARE(w.buttonCaption(Button::SingleShoot)->text(), QStringLiteral("Mesure imm\u00e9diate"));
    // The units of the first contact are gone with the new captions.
    QCOMPARE(headerText(w, 2), QStringLiteral("Canal 1"));
    QCOMPARE(headerText(w, 4), QStringLiteral("Canal 3"));
}

void TestLanguages::italianAtStart() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=3")});
    ThauptFenster& w = rig.startReady();
    QCOMPARE(w.action(MenuItem::File)->text(), QStringLiteral("&Archivio"));
    QCOMPARE(w.action(MenuItem::Export)->text(), QStringLiteral("M&essa a punto"));
    QCOMPARE(w.action(MenuItem::LoadFromFile)->text(), QStringLiteral("&Load from file..."));
    QCOMPARE(w.action(MenuItem::Samples)->text(), QStringLiteral("&Samples"));
    QCOMPARE(w.action(MenuItem::Info)->text(), QStringLiteral("&Info"));
    for (int i = 0; i < ThauptFenster::kButtonCount; ++i)
        QCOMPARE(w.buttonCaption(static_cast<Button>(i))->text(), QString());
    QCOMPARE(headerText(w, 1), QString());
    // The first contact appends units to the empty captions.
    QCOMPARE(headerText(w, 2), QStringLiteral(" (N)"));
    QCOMPARE(headerText(w, 4), QStringLiteral(" (N.C.)"));
    QCOMPARE(w.statusText(), QStringLiteral("Collegamento con il server completato"));
    QCOMPARE(text(rig, 5), QString());
}

void TestLanguages::languageOutsideTableCopiesNothing() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=7")});
    ThauptFenster& w = rig.start();
    QCOMPARE(text(rig, 0), QString());
    QCOMPARE(w.action(MenuItem::File)->text(), QStringLiteral("&File"));
    QCOMPARE(w.action(MenuItem::BatchToList)->text(), QStringLiteral("Batch to memory"));
    QCOMPARE(w.buttonCaption(Button::ClearList)->text(), QString());
    QCOMPARE(headerText(w, 3), QString());
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
