// The setup dialog with the settings file, and the about box.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QTimer>

#include "app/mabout.h"
#include "app/msetup.h"
#include "support.h"

using tarvelo::gui::Tabout;
using tarvelo::gui::Tconfig;
using tarvelo::gui::ThauptFenster;
using tarvelo::guitest::headerText;
using tarvelo::guitest::Rig;

namespace {

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

// The next widget the Tab key can reach, hidden ones included.
QWidget* nextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    return next;
}

// Where each key stands in the file (-1 when missing).
int keyAt(const QByteArray& file, const char* line) {
    return file.indexOf(line);
}

}  // namespace

class TestSetup : public QObject {
    Q_OBJECT
private slots:
    void dialogShowsSettings();
    void okWritesFourKeysInOrder();
    void cancelKeepsFileAndValues();
    void valuesOutsideListsAreKept();
    void missingAndBrokenKeysGiveDefaults();
    void failedWriteIsReported();
    void aboutBox();
};

void TestSetup::dialogShowsSettings() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=1"), QStringLiteral("SampleRate=9")});
    rig.start();
    runSetup(rig, [&](Tconfig& config) {
        QCOMPARE(config.windowTitle(), QStringLiteral("config"));
        QCOMPARE(config.addressEdit()->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(config.portEdit()->text(), QString::number(rig.port()));
        QVERIFY(!config.portEdit()->isVisible());
        QCOMPARE(config.languageList()->currentIndex(), 1);
        QCOMPARE(config.languageList()->count(), 3);
        QCOMPARE(config.languageList()->itemText(2), QStringLiteral("Fran\u00e7ais"));
        QCOMPARE(config.sampleRateList()->currentIndex(), 9);
        QCOMPARE(config.sampleRateList()->count(), 13);
        QCOMPARE(config.sampleRateList()->itemText(9), QStringLiteral("1 s"));
        QVERIFY(!config.languageList()->isEditable());
        QCOMPARE(config.addressLabel()->text(), QStringLiteral("IP Adress Device"));
        QCOMPARE(config.sampleRateLabel()->text(), QStringLiteral("Sample rate"));
        QCOMPARE(config.cancelButton()->text(), QStringLiteral("Cancel"));
        QVERIFY(config.okButton()->isDefault());
        // The edits right of their labels, the buttons right of the edits.
        QVERIFY(config.addressEdit()->x() > config.addressLabel()->geometry().right());
        QVERIFY(config.okButton()->x() > config.addressEdit()->geometry().right());
        // Keyboard order: address, interval, language, port, OK, cancel.
        QCOMPARE(nextTabStop(config.addressEdit()), config.sampleRateList());
        QCOMPARE(nextTabStop(config.sampleRateList()), config.languageList());
        QCOMPARE(nextTabStop(config.languageList()), config.portEdit());
        QCOMPARE(nextTabStop(config.portEdit()), config.okButton());
        QCOMPARE(nextTabStop(config.okButton()), config.cancelButton());
        config.reject();
    });
}

void TestSetup::okWritesFourKeysInOrder() {
    Rig rig;
    rig.writeSettings(
        {QStringLiteral("Color 1=3"), QStringLiteral("[Other]"), QStringLiteral("Keep=yes")});
    ThauptFenster& w = rig.startReady();
    QCOMPARE(headerText(w, 2), QStringLiteral("Channel 1 (N)"));

    runSetup(rig, [&](Tconfig& config) {
        config.addressEdit()->setText(QStringLiteral(" 127.0.0.1 "));
        config.sampleRateList()->setCurrentIndex(2);
        config.languageList()->setCurrentIndex(0);  // chosen, not "picked": applied on OK
        config.okButton()->click();
    });
    QCOMPARE(rig.values.settings.sampleRate.load(), 2);
    QCOMPARE(rig.values.settings.language.load(), 0);
    QCOMPARE(rig.values.settings.ipServer(), std::string("127.0.0.1"));
    const QByteArray file = rig.readSettings();
    const QByteArray port = "Port=" + QByteArray::number(rig.port());
    // Only the keys' lines change or are added; the rest stays byte for byte.
    QCOMPARE(file, "[Config]\r\nIP-Server=127.0.0.1\r\n" + port +
                       "\r\nColor 1=3\r\nLanguage=0\r\nSampleRate=2\r\n[Other]\r\nKeep=yes\r\n");
    QVERIFY(keyAt(file, "IP-Server=127.0.0.1") >= 0);
    QVERIFY(keyAt(file, "IP-Server=127.0.0.1") < keyAt(file, port.constData()));
    QVERIFY(keyAt(file, port.constData()) < keyAt(file, "Language=0"));
    QVERIFY(keyAt(file, "Language=0") < keyAt(file, "SampleRate=2"));
    QVERIFY(keyAt(file, "Color 1=3") >= 0);
    QVERIFY(keyAt(file, "Keep=yes") >= 0);
    // OK ran ApplyLanguage: German, and the units are gone.
    QCOMPARE(w.action(tarvelo::app::MenuItem::File)->text(), QStringLiteral("&Datei"));
    QCOMPARE(headerText(w, 2), QStringLiteral("Kanal 1"));
}

void TestSetup::cancelKeepsFileAndValues() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("SampleRate=4")});
    rig.start();
    const QByteArray before = rig.readSettings();
    runSetup(rig, [&](Tconfig& config) {
        config.addressEdit()->setText(QStringLiteral("127.0.0.9"));
        config.sampleRateList()->setCurrentIndex(0);
        config.cancelButton()->click();
    });
    QCOMPARE(rig.readSettings(), before);
    QCOMPARE(QString::fromStdString(rig.values.settings.ipServer()), QStringLiteral("127.0.0.1"));
    QCOMPARE(rig.values.settings.sampleRate.load(), 4);
}

void TestSetup::valuesOutsideListsAreKept() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=3"), QStringLiteral("SampleRate=99")});
    rig.start();
    runSetup(rig, [&](Tconfig& config) {
        QCOMPARE(config.languageList()->currentIndex(), -1);
        QCOMPARE(config.sampleRateList()->currentIndex(), -1);
        config.portEdit()->setText(QStringLiteral("no port"));
        config.okButton()->click();
    });
    const QByteArray file = rig.readSettings();
    QVERIFY(file.contains("Language=3"));
    QVERIFY(file.contains("SampleRate=99"));
    QVERIFY(!file.contains("=-1"));
    // A port field that is not a number gives the default port.
    QVERIFY(file.contains("Port=4000"));
    QCOMPARE(rig.values.settings.language.load(), 3);
}

void TestSetup::missingAndBrokenKeysGiveDefaults() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=zwei"), QStringLiteral("SampleRate=")});
    ThauptFenster& w = rig.start();
    QCOMPARE(rig.values.settings.language.load(), 1);
    QCOMPARE(rig.values.settings.sampleRate.load(), 6);
    QCOMPARE(rig.values.settings.port.load(), int(rig.port()));
    QCOMPARE(w.buttonCaption(ThauptFenster::Button::LoadFromFile)->text(),
             QStringLiteral("Load from file"));

    // OK without changes rewrites the four keys with their current values.
    runSetup(rig, [](Tconfig& config) { config.okButton()->click(); });
    const QByteArray file = rig.readSettings();
    QVERIFY(file.contains("Language=1"));
    QVERIFY(file.contains("SampleRate=6"));
}

void TestSetup::failedWriteIsReported() {
    Rig rig(false);
    rig.writeSettings();
    rig.start();
    // A settings file without write permission is not replaced (also not by
    // root, who could rename over it): OK says so in the language just
    // picked, naming the file and the reason.
    const QByteArray before = rig.readSettings();
    QFile::setPermissions(rig.settingsPath(),
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    runSetup(rig, [](Tconfig& config) {
        config.languageList()->setCurrentIndex(0);
        config.okButton()->click();
    });
    QCOMPARE(rig.readSettings(), before);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    const auto& box = rig.dialogs.messages.first();
    QCOMPARE(box.caption, QStringLiteral("Fehler"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.text, QStringLiteral("Die Einstellungen konnten nicht in ") + rig.settingsPath() +
                           QStringLiteral(" gespeichert werden.\nKeine Berechtigung"));

    // Cancel writes nothing and says nothing.
    runSetup(rig, [](Tconfig& config) { config.cancelButton()->click(); });
    QCOMPARE(rig.dialogs.messages.size(), 1);
}

void TestSetup::aboutBox() {
    Rig rig(false);
    rig.writeSettings();
    rig.start();
    Tabout* about = rig.windows.about;
    QTimer::singleShot(5000, about, [about] { about->reject(); });
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("KORVANTE Mirelda"));
        // 385 wide, or as much wider as the links need in this font.
        QCOMPARE(about->height(), 286);
        QVERIFY(about->width() >= 385);
        QVERIFY(about->rect().contains(about->mailLink()->geometry()));
        QCOMPARE(about->versionLabel()->text(), QStringLiteral("Programm-Version: 3.3.3.0"));
        QVERIFY(about->sysLabel()->text().startsWith(QSysInfo::prettyProductName() +
                                                     QStringLiteral(", Version ")));
        QVERIFY(about->spLabel()->text().contains(QSysInfo::kernelVersion()));
        const QString owner = Tabout::accountFullName();
        QCOMPARE(about->nameLabel()->text(), owner.isEmpty() ? QStringLiteral("Name") : owner);
        QCOMPARE(about->nameLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(about->orgLabel()->text(), QStringLiteral("Organisation"));
        QCOMPARE(about->webLink()->text(), QStringLiteral("KORVANTE GMBH Website"));
        QCOMPARE(about->webLink()->toolTip(), QStringLiteral("KORVANTE GMBH Website aufrufen"));
        QCOMPARE(about->mailLink()->text(), QStringLiteral("EMail (support@example.com)"));
        QCOMPARE(about->mailLink()->toolTip(), QStringLiteral("EMail an Support senden"));
        QCOMPARE(about->webLink()->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(about->webLink(), Qt::LeftButton);
        QTest::mouseClick(about->mailLink(), Qt::LeftButton);
        about->accept();
    });
    rig.window().action(tarvelo::app::MenuItem::Info)->trigger();
    QCOMPARE(rig.dialogs.urls.size(), 2);
    QCOMPARE(rig.dialogs.urls[0], QUrl(QStringLiteral("https://www.example.com")));
    QCOMPARE(rig.dialogs.urls[1], QUrl(QStringLiteral("mailto:support@example.com")));
}

QTEST_MAIN(TestSetup)
#include "tst_setup.moc"
