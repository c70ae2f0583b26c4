// The main window against the simulated instrument: start-up states and
// their enabling, single shot, clearing, keyboard, help and shutdown.

#include <functional>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QHeaderView>

#include "analysis/mgrafik.h"
#include "analysis/mstatistic.h"
#include "app/minitconn.h"
#include "app/msetup.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::app::MenuItem;
using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using State = ThauptFenster::StartupState;
using tarvelo::guitest::cellText;
using tarvelo::guitest::headerText;
using tarvelo::guitest::Rig;

namespace {

// Controls that start-up disables and the first contact enables.
const MenuItem kAcquisitionItems[] = {MenuItem::Export, MenuItem::SaveToFile,
                                      MenuItem::GetActualSample, MenuItem::StartStopSampling};
// Controls that stay enabled in every start-up state.
const Button kAlwaysButtons[] = {Button::ClearList, Button::LoadFromFile, Button::Grafik,
                                 Button::statistic};
const MenuItem kAlwaysItems[] = {MenuItem::LoadFromFile, MenuItem::Setup,     MenuItem::ExitProgram,
                                 MenuItem::ShowGraphic,  MenuItem::Statistic, MenuItem::BatchToList,
                                 MenuItem::BatchToFile,  MenuItem::HelpFile,  MenuItem::Info};

void verifyAlwaysEnabled(ThauptFenster& w) {
    for (Button b : kAlwaysButtons)
        QVERIFY(w.button(b)->isEnabled());
    for (MenuItem item : kAlwaysItems)
        QVERIFY(w.action(item)->isEnabled());
}

void verifyAcquisitionDisabled(ThauptFenster& w) {
    for (Button b :
         {Button::SingleShoot, Button::StartStopTransfer, Button::ExportData, Button::SaveToFile})
        QVERIFY(!w.button(b)->isEnabled());
    for (MenuItem item : kAcquisitionItems)
        QVERIFY(!w.action(item)->isEnabled());
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void layoutAndMenus();
    void startupReachesReadyWithUnits();
    void waitsForeverWhenNothingListens();
    void offlineWhenFirstContactFails();
    void singleShotStoresAndLists();
    void singleShotWrongEchoShowsMVal();
    void clearAsksAndClears();
    void keyboardShortcuts();
    void helpOpensPageOfLanguage();
    void f1OpensTheSectionOfTheWindowInFront();
    void closeWhileProbeWaits();
};

void TestMainWindow::layoutAndMenus() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.start();
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvelo II"));
    // A window of fixed size, without minimise and maximise buttons.
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));

    // The list across the whole window above the row of buttons; whether
    // any text is cut or overlapped is the layout test's business.
    const QRect list = w.listView()->geometry();
    QVERIFY(list.left() <= 0 && list.right() >= w.centralWidget()->width() - 1);
    QCOMPARE(w.listView()->selectionBehavior(), QAbstractItemView::SelectRows);
    // The time column is as wide as a whole time stamp.
    QVERIFY(w.listView()->header()->sectionSize(1) >=
            w.listView()->fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00.00.00.000")));
    auto* model = w.listView()->model();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString());
    QCOMPARE(model->headerData(3, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);

    // The buttons in one row below the list, in their order from the left,
    // each with its caption under it.
    const QWidget* previous = nullptr;
    for (int i = 0; i < ThauptFenster::kButtonCount; ++i) {
        const auto b = static_cast<Button>(i);
        const QRect place = w.button(b)->geometry();
        QVERIFY(place.top() > list.bottom());
        if (previous) {
            QCOMPARE(place.top(), previous->y());
            QVERIFY(place.left() > previous->geometry().right());
        }
        previous = w.button(b);
        const QIcon icon = w.button(b)->icon();
        // Two images: the disabled one is our own, not Qt's greyed copy.
        QVERIFY(icon.pixmap(24, QIcon::Normal).toImage() !=
                icon.pixmap(24, QIcon::Disabled).toImage());
        QVERIFY(w.buttonCaption(b)->wordWrap());
        QVERIFY(w.buttonCaption(b)->y() > place.bottom());
    }
    QCOMPARE(w.buttonCaption(Button::SingleShoot)->text(), QStringLiteral("Get actual sample"));
    QCOMPARE(w.buttonCaption(Button::statistic)->text(), QStringLiteral("Statistics"));

    // The title in large bold letters of the brand colour, below the
    // buttons, with the registered mark after it.
    QCOMPARE(w.titleLabel()->text(), QStringLiteral("TARVELO II"));
    QVERIFY(w.titleLabel()->y() > previous->geometry().bottom());
    QVERIFY(w.titleLabel()->font().pixelSize() > 2 * w.fontInfo().pixelSize());
    QVERIFY(w.titleLabel()->font().bold());
    QCOMPARE(w.titleLabel()->palette().color(QPalette::WindowText), QColor(65, 120, 184));
    QCOMPARE(w.registeredLabel()->palette().color(QPalette::WindowText), QColor(65, 120, 184));
    QCOMPARE(w.registeredLabel()->y(), w.titleLabel()->y());
    QVERIFY(w.titleLabel()->geometry().right() < w.registeredLabel()->x());

    struct Expect {
        MenuItem item;
        const char* caption;
        QKeySequence shortcut;
    };
    const Expect items[] = {
        {MenuItem::File, "&File", {}},
        {MenuItem::Export, "&Export data", QKeySequence(Qt::CTRL | Qt::Key_E)},
        {MenuItem::LoadFromFile, "&Load from file...", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {MenuItem::SaveToFile, "&Save to file...", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {MenuItem::Setup, "S&etup", {}},
        {MenuItem::ExitProgram, "Exit Program", QKeySequence(Qt::ALT | Qt::Key_X)},
        {MenuItem::Samples, "&Samples", {}},
        {MenuItem::GetActualSample, "Ge&t actual sample", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {MenuItem::StartStopSampling, "&Start/Stop data sampling",
         QKeySequence(Qt::ALT | Qt::Key_S)},
        {MenuItem::DeleteSampleData, "&Delete Sample Data", QKeySequence(Qt::CTRL | Qt::Key_D)},
        {MenuItem::ShowGraphic, "Show &graphic", QKeySequence(Qt::ALT | Qt::Key_G)},
        {MenuItem::Statistic, "St&atistic", QKeySequence(Qt::CTRL | Qt::Key_A)},
        {MenuItem::BatchToList, "Batch to &list", {}},
        {MenuItem::BatchToFile, "Batch to &file", {}},
        {MenuItem::Help, "?", {}},
        {MenuItem::HelpFile, "&Help", QKeySequence(Qt::Key_F1)},
        {MenuItem::Info, "&Info", {}},
    };
    for (const Expect& e : items) {
        QCOMPARE(w.action(e.item)->text(), QString::fromUtf8(e.caption));
        QCOMPARE(w.action(e.item)->shortcut(), e.shortcut);
    }
    // Menu order: three menus, the File menu with "Open recording..." after
    // the sample file's items, and its two separators.
    const auto menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    const auto fileItems = menus[0]->menu()->actions();
    QCOMPARE(fileItems.size(), 8);
    QCOMPARE(fileItems[3], w.openRecordingAction());
    QCOMPARE(fileItems[3]->text(), QStringLiteral("&Open recording..."));
    QCOMPARE(fileItems[3]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QVERIFY(fileItems[4]->isSeparator() && fileItems[6]->isSeparator());
    QCOMPARE(fileItems[5], w.action(MenuItem::Setup));
}

void TestMainWindow::startupReachesReadyWithUnits() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.start();
    QCOMPARE(w.startupState(), State::Waiting);
    QVERIFY(w.timer1()->isActive());
    QCOMPARE(w.timer1()->interval(), 100);
    QCOMPARE(rig.values.socketTimeoutMs.load(), 1000);

    QVERIFY(rig.waitForState(State::Ready));
    QVERIFY(!w.timer1()->isActive());
    QVERIFY(!rig.windows.initConnection->isVisible());
    QCOMPARE(headerText(w, 1), QStringLiteral("Time"));
    QCOMPARE(headerText(w, 2), QStringLiteral("Channel 1 (N)"));
    QCOMPARE(headerText(w, 3), QStringLiteral("Channel 2 (mm)"));
    QCOMPARE(headerText(w, 4), QStringLiteral("Channel 3 (N.C.)"));
    QCOMPARE(headerText(w, 5), QStringLiteral("Channel 4 (\u00b0C)"));
    QCOMPARE(QString::fromStdString(rig.values.memory.channelUnit(4)), QStringLiteral("\u00b0C"));
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device terminated"));

    // Ready: single shot and start/stop on, the File menu's export and save
    // too, the two buttons not until samples arrive.
    QVERIFY(w.button(Button::SingleShoot)->isEnabled());
    QVERIFY(w.button(Button::StartStopTransfer)->isEnabled());
    QVERIFY(!w.button(Button::ExportData)->isEnabled());
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());
    for (MenuItem item : kAcquisitionItems)
        QVERIFY(w.action(item)->isEnabled());
    verifyAlwaysEnabled(w);
    // The timer has stopped for good: nothing disables the controls again.
    QTest::qWait(250);
    QVERIFY(w.button(Button::SingleShoot)->isEnabled());
}

void TestMainWindow::waitsForeverWhenNothingListens() {
    Rig rig(false);
    rig.writeSettings();
    ThauptFenster& w = rig.start();
    QTest::qWait(400);
    QCOMPARE(w.startupState(), State::Waiting);
    QVERIFY(w.timer1()->isActive());
    QVERIFY(!rig.values.deviceReady.load());
    verifyAcquisitionDisabled(w);
    verifyAlwaysEnabled(w);
    // Every tick takes export and save away again (a file loaded meanwhile
    // enables them for at most one interval).
    w.setSaveExportEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(!w.button(Button::ExportData)->isEnabled() &&
                                 !w.button(Button::SaveToFile)->isEnabled(),
                             tarvelo::guitest::kHungMs.count());
    verifyAcquisitionDisabled(w);
    QVERIFY(rig.dialogs.messages.isEmpty());
}

void TestMainWindow::offlineWhenFirstContactFails() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.start();
    // The probe has answered, but no tick has looked yet: the first contact
    // then finds the instrument gone.
    QVERIFY(rig.waitDeviceReadyBlocking());
    rig.instrument->setCommandFault(tarvelo::sim::CommandFault::RefuseConnections);
    QVERIFY(rig.waitForState(State::Offline));
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device failed"));
    QVERIFY(!w.timer1()->isActive());
    QVERIFY(!rig.windows.initConnection->isVisible());
    QTest::qWait(150);
    verifyAcquisitionDisabled(w);
    verifyAlwaysEnabled(w);
    QCOMPARE(headerText(w, 2), QStringLiteral("Channel 1"));
}

void TestMainWindow::singleShotStoresAndLists() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();

    rig.instrument->overrideReply("#X00", "#X001.5|2.5|N.C.  |4.5|999|");
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.values.memory.WritePosition(), 1);
    const auto row = rig.values.memory.row(0);
    QCOMPARE(row.channel[0], 1.5);
    QCOMPARE(row.channel[1], 2.5);
    QCOMPARE(row.channel[2], 0.0);
    QCOMPARE(row.channel[3], 4.5);
    QCOMPARE(row.timeMs, 999.0);
    QCOMPARE(row.deviceFlag, uint8_t{0});
    QCOMPARE(w.listView()->model()->rowCount(), 1);
    QCOMPARE(cellText(w, 0, 0), QStringLiteral("1"));
    QCOMPARE(cellText(w, 0, 1), QStringLiteral("01.01.1970 00.00.00.999"));
    QCOMPARE(cellText(w, 0, 2), QStringLiteral("1.50000"));
    QCOMPARE(cellText(w, 0, 4), QStringLiteral("0.00000"));
    QVERIFY(w.button(Button::ExportData)->isEnabled());
    QVERIFY(w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(w.action(MenuItem::Export)->isEnabled());
    QVERIFY(w.action(MenuItem::SaveToFile)->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device terminated"));

    // The decimal separator follows the locale when shown.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(cellText(w, 0, 5), QStringLiteral("4,50000"));

    // The echo alone: zeros at time 0; the menu entry runs the same handler.
    rig.instrument->overrideReply("#X00", "#X00");
    w.action(MenuItem::GetActualSample)->trigger();
    QCOMPARE(rig.values.memory.WritePosition(), 2);
    QCOMPARE(cellText(w, 1, 0), QStringLiteral("2"));
    QCOMPARE(cellText(w, 1, 1), QStringLiteral("01.01.1970 00.00.00.000"));
    QCOMPARE(cellText(w, 1, 2), QStringLiteral("0,00000"));

    // The simulated instrument's own answer.
    rig.instrument->clearReplyOverrides();
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.values.memory.WritePosition(), 3);
    QVERIFY(rig.values.memory.row(2).timeMs > 1.0e12);
    QVERIFY(rig.dialogs.messages.isEmpty());
}

void TestMainWindow::singleShotWrongEchoShowsMVal() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    rig.instrument->overrideReply("#X00", "#ERR");
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    const auto& box = rig.dialogs.messages.first();
    QCOMPARE(box.text, QStringLiteral("MVal"));
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(rig.values.memory.WritePosition(), 0);
    QCOMPARE(w.listView()->model()->rowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());

    // No connection at all: nothing stored, nothing asked, the failure in
    // the status bar.
    rig.instrument->setCommandFault(tarvelo::sim::CommandFault::RefuseConnections);
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device failed"));
    QCOMPARE(rig.values.memory.WritePosition(), 0);
}

void TestMainWindow::clearAsksAndClears() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();

    // Empty memory: nothing is asked.
    QTest::mouseClick(w.button(Button::ClearList), Qt::LeftButton);
    QVERIFY(rig.dialogs.messages.isEmpty());

    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.values.memory.RowCount(), 2);

    rig.dialogs.answers = {QMessageBox::No};
    QTest::mouseClick(w.button(Button::ClearList), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    const auto& box = rig.dialogs.messages.first();
    QCOMPARE(box.text, QStringLiteral("Should the measured value memory be deleted?"));
    QCOMPARE(box.caption, QStringLiteral("Question?"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(rig.values.memory.RowCount(), 2);
    QCOMPARE(w.listView()->model()->rowCount(), 2);
    QVERIFY(w.button(Button::SaveToFile)->isEnabled());

    rig.dialogs.answers = {QMessageBox::Yes};
    QTest::mouseClick(w.button(Button::ClearList), Qt::LeftButton);
    QCOMPARE(rig.values.memory.RowCount(), 0);
    QVERIFY(!rig.values.memory.Wrapped());
    QCOMPARE(w.listView()->model()->rowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(!w.button(Button::ExportData)->isEnabled());
    QVERIFY(!w.action(MenuItem::Export)->isEnabled());
    QVERIFY(!w.action(MenuItem::SaveToFile)->isEnabled());
    // Single shot and sampling stay available.
    QVERIFY(w.action(MenuItem::GetActualSample)->isEnabled());

    // After clearing the list counts from 1 again.
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(cellText(w, 0, 0), QStringLiteral("1"));
}

void TestMainWindow::keyboardShortcuts() {
    Rig rig;
    // Alt+S starts and stops sampling for real; 10 s per sample keeps the
    // stream out of the counts below.
    rig.writeSettings({QStringLiteral("SampleRate=12")});
    ThauptFenster& w = rig.startReady();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    // Alt+S: the item's shortcut wins over the "&Samples" mnemonic.
    QSignalSpy startStop(w.action(MenuItem::StartStopSampling), &QAction::triggered);
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 1);
    QVERIFY(!QApplication::activePopupWidget());
    // Also with the list holding the focus.
    w.listView()->setFocus();
    QTest::keyClick(w.listView(), Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 2);

    // Ctrl+T takes a sample, Ctrl+D asks to clear.
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(rig.values.memory.RowCount(), 1);
    rig.dialogs.answers = {QMessageBox::Yes};
    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.values.memory.RowCount(), 0);

    // Disabled, Alt+S is left to the menu bar and runs nothing.
    w.action(MenuItem::StartStopSampling)->setEnabled(false);
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(startStop.count(), 2);
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}

// F1 opens the manual's page at the section of the window in front: the
// main window, the graph (which shares the main window's menu keys) and the
// modal dialogs, which block those keys, with a key of their own. Each
// section exists in all three pages.
void TestMainWindow::f1OpensTheSectionOfTheWindowInFront() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=0")});
    // Ready: the start-up probe has emptied the memory before the sample goes in.
    ThauptFenster& w = rig.startReady();
    rig.values.helpDirectory = QStringLiteral(TARVELO_MANUAL_DIR).toStdString();
    rig.values.memory.AppendSample(tarvelo::test::makeRow(1, 2, 3, 4));
    const QString page = QStringLiteral(TARVELO_MANUAL_DIR "/manual_de.html");

    // Presses F1 in `window` once it is the active window.
    auto pressF1 = [](QWidget* window) {
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        QVERIFY2(QTest::qWaitForWindowActive(window),
                 qPrintable(QApplication::activeWindow()
                                ? QApplication::activeWindow()->objectName()
                                : QStringLiteral("no active window")));
        QTest::keyClick(window, Qt::Key_F1);
    };
    // Presses F1 in a modal dialog that `open` shows, then closes it.
    auto inDialog = [&](QDialog* dialog, const std::function<void()>& open) {
        QTimer::singleShot(20000, dialog, &QDialog::reject);  // should the step fail
        QTimer::singleShot(0, dialog, [&, dialog] {
            QTRY_VERIFY(QApplication::activeModalWidget() == dialog);
            pressF1(dialog);
            QTRY_VERIFY(!rig.dialogs.urls.isEmpty());
            dialog->reject();
        });
        open();
    };
    const struct {
        const char* window;
        std::function<void()> pressF1;
        const char* section;
    } windows[] = {
        {"main window", [&] { pressF1(&w); }, "main"},
        {"statistics", [&] { inDialog(rig.windows.stat, [&] { w.statisticClick(); }); },
         "statistics"},
        {"setup", [&] { inDialog(rig.windows.config, [&] { w.Setup1Click(); }); }, "settings"},
        {"graph",
         [&] {
             w.GrafikClick();
             pressF1(rig.windows.graph);
         },
         "graph"},
    };
    for (const auto& window : windows) {
        rig.dialogs.urls.clear();
        window.pressF1();
        QVERIFY2(rig.dialogs.urls.size() == 1, window.window);
        QUrl expected = QUrl::fromLocalFile(page);
        expected.setFragment(QLatin1String(window.section));
        QCOMPARE(rig.dialogs.urls.first(), expected);
        for (const char* language : {"de", "en", "fr"}) {
            QFile other(QStringLiteral(TARVELO_MANUAL_DIR "/manual_%1.html").arg(QLatin1String(language)));
            QVERIFY(other.open(QIODevice::ReadOnly));
            QVERIFY2(other.readAll().contains(QByteArray("id=\"") + window.section + '"'),
                     window.section);
        }
    }
    QVERIFY(rig.dialogs.messages.isEmpty());
}

// Help (menu item and F1): a compiled help file of the language beside the
// executable, else the manual's page of the language, else a box that says why.
void TestMainWindow::helpOpensPageOfLanguage() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=2")});
    ThauptFenster& w = rig.start();
    const QString folder = rig.folder();
    const QString help = folder + QStringLiteral("/manual");
    rig.values.helpDirectory = help.toStdString();
    QVERIFY(QDir().mkpath(help));
    auto touch = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    };
    for (const char* page : {"manual_de.html", "manual_en.html", "manual_fr.html"})
        QVERIFY(touch(help + QLatin1Char('/') + QLatin1String(page)));
    QVERIFY(touch(folder + QStringLiteral("/hilfe_f.chm")));
    auto opened = [&](int language) {
        rig.dialogs.urls.clear();
        rig.values.settings.language = language;
        w.Hilfe1Click();
        QStringList paths;
        for (const QUrl& url : rig.dialogs.urls)
            paths << url.toLocalFile().mid(folder.size() + 1);
        return paths;
    };

    // F1 and the menu item in French: the help file beside the executable.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    QCOMPARE(rig.dialogs.urls,
             QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("/hilfe_f.chm"))});
    rig.dialogs.urls.clear();
    w.action(MenuItem::HelpFile)->trigger();
    QCOMPARE(rig.dialogs.urls.size(), 1);
    // No help file for the others: the page of the language; Italian and any
    // other language read the English one.
    QCOMPARE(opened(0), QStringList{QStringLiteral("manual/manual_de.html")});
    QCOMPARE(opened(1), QStringList{QStringLiteral("manual/manual_en.html")});
    QCOMPARE(opened(3), QStringList{QStringLiteral("manual/manual_en.html")});
    QCOMPARE(opened(-1), QStringList{QStringLiteral("manual/manual_en.html")});
    QVERIFY(rig.dialogs.messages.isEmpty());

    // Nothing can show the help file or the page: both are tried, then a box.
    rig.dialogs.openUrlResult = false;
    QCOMPARE(opened(2),
             (QStringList{QStringLiteral("hilfe_f.chm"), QStringLiteral("manual/manual_fr.html")}));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Aide"));
    QVERIFY(rig.dialogs.messages[0].text.contains(QStringLiteral("aucun programme")));
    // No page at all: nothing is handed to the desktop, the box names the page.
    QVERIFY(QFile::remove(help + QStringLiteral("/manual_de.html")));
    rig.dialogs.openUrlResult = true;
    QCOMPARE(opened(0), QStringList());
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QCOMPARE(rig.dialogs.messages[1].caption, QStringLiteral("Hilfe"));
    QVERIFY(rig.dialogs.messages[1].text.contains(help + QStringLiteral("/manual_de.html")));

    // Graph and statistics do nothing on an empty memory (and must not
    // crash without their windows).
    w.GrafikClick();
    w.statisticClick();
}

void TestMainWindow::closeWhileProbeWaits() {
    // The instrument accepts but never answers: the probe sits in its
    // receive, whose time-out is never reached here. Closing must end it
    // instead of waiting it out.
    Rig rig;
    rig.writeSettings();
    rig.instrument->setCommandFault(tarvelo::sim::CommandFault::NoReply);
    rig.values.workerTiming.workerReceiveTimeout = tarvelo::guitest::kNotReachedMs;
    ThauptFenster& w = rig.start();
    QTRY_COMPARE(rig.instrument->commandsReceived(), 1u);  // the probe waits for its reply
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w.close());
    QVERIFY2(clock.elapsed() < tarvelo::guitest::kHungMs.count(),
             "closing waited for the probe's receive time-out");
    QVERIFY(!w.timer1()->isActive());
    QCOMPARE(w.startupState(), State::Waiting);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
