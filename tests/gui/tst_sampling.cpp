// Continuous sampling from the main window against the simulated instrument:
// start and stop, the running count, the list rebuilt at the stop, the
// enabling while sampling runs, failed connects, a full memory, a stream that
// closes and comes back, and closing the program while sampling.

#include <csignal>
#include <sys/resource.h>

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "acquisition/mthread.h"
#include "acquisition/samplelistmodel.h"
#include "analysis/mgrafik.h"
#include "common/encoding.h"
#include "files/export_text.h"
#include "files/record_writer.h"
#include "support.h"

using tarvelo::acquisition::kMemoryCapacity;
using tarvelo::acquisition::SampleRow;
using tarvelo::app::MenuItem;
using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using tarvelo::guitest::cellText;
using tarvelo::guitest::Rig;
using tarvelo::sim::CommandFault;
using tarvelo::sim::Instrument;
using tarvelo::sim::StreamFault;

namespace {

constexpr double kClock = 1.6e12;

tarvelo::sim::InstrumentConfig fixedClock() {
    tarvelo::sim::InstrumentConfig config;
    config.clockStartMs = kClock;
    return config;
}

// The count the status bar shows, -1 when it shows something else.
int shownCount(ThauptFenster& w) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d+) data sets received$"));
    const auto match = pattern.match(w.statusText());
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

bool waitForCount(ThauptFenster& w, int atLeast, int timeoutMs = 8000) {
    QElapsedTimer clock;
    clock.start();
    while (shownCount(w) < atLeast) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

QString startStopCaption(ThauptFenster& w) {
    return w.buttonCaption(Button::StartStopTransfer)->text();
}

std::string lastCommand(Rig& rig) {
    const auto log = rig.instrument->commandLog();
    return log.empty() ? std::string() : log.back();
}

// The commands besides sampling itself that write the memory, and those the
// start disables, with everything else that must stay usable.
const Button kDisabledButtons[] = {Button::SingleShoot, Button::ExportData, Button::SaveToFile,
                                   Button::LoadFromFile, Button::ClearList};
const MenuItem kDisabledItems[] = {MenuItem::Export,           MenuItem::SaveToFile,
                                   MenuItem::GetActualSample,  MenuItem::LoadFromFile,
                                   MenuItem::DeleteSampleData, MenuItem::BatchToList};
const Button kUsableButtons[] = {Button::StartStopTransfer, Button::Grafik, Button::statistic};
const MenuItem kUsableItems[] = {MenuItem::StartStopSampling, MenuItem::Setup,
                                 MenuItem::ExitProgram,       MenuItem::ShowGraphic,
                                 MenuItem::Statistic,         MenuItem::BatchToFile,
                                 MenuItem::HelpFile,          MenuItem::Info};

void verifySamplingControls(ThauptFenster& w, bool sampling) {
    for (Button b : kDisabledButtons)
        QVERIFY2(w.button(b)->isEnabled() != sampling, qPrintable(w.button(b)->objectName()));
    for (MenuItem item : kDisabledItems)
        QVERIFY2(w.action(item)->isEnabled() != sampling, qPrintable(w.action(item)->text()));
    for (Button b : kUsableButtons)
        QVERIFY(w.button(b)->isEnabled());
    for (MenuItem item : kUsableItems)
        QVERIFY(w.action(item)->isEnabled());
}

// The list after a stop: ring indices in chronological order, time stamps
// `stepMs` apart, each row the mean of its `stepMs` records.
void verifyRebuiltList(ThauptFenster& w, int expectedRows, int firstIndex, double stepMs) {
    const auto& list = w.listModel()->list();
    QCOMPARE(list.size(), expectedRows);
    for (int32_t i = 0; i < list.size(); ++i) {
        const auto& item = list.item(i);
        QCOMPARE(item.number, (firstIndex + i) % kMemoryCapacity);
        if (i > 0)
            QCOMPARE(item.row.timeMs - list.item(i - 1).row.timeMs, stepMs);
        const auto last = static_cast<uint64_t>(item.row.timeMs - kClock);
        const double mean = Instrument::recordValue(last, 2) - 0.25 * (stepMs - 1) / 2;
        QCOMPARE(item.row.channel[1], mean);
    }
}

}  // namespace

class TestSampling : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void startWatchCountStopRebuildsList();
    void otherWritersWaitWhileSampling();
    void failedConnects();
    void fullMemoryFromALoadStopsTheStream();
    void streamThatClosesAndComesBack();
    void fastStreamKeepsWindowResponsiveAndCloseIsPrompt();
    void runOfCountsShowsTheNewest();
    void recordingFromTheSamplesMenu();
};

void TestSampling::startWatchCountStopRebuildsList() {
    Rig rig(true, fixedClock());
    rig.writeSettings({QStringLiteral("SampleRate=3")});  // 10 records per sample
    ThauptFenster& w = rig.startReady();
    QCOMPARE(startStopCaption(w), QStringLiteral("Start Data sampling"));
    QVERIFY(w.samplingThread());
    QTRY_VERIFY(w.samplingThread()->connected());

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(w.sampling());
    QCOMPARE(startStopCaption(w), QStringLiteral("Stop Data sampling"));
    QCOMPARE(lastCommand(rig), std::string("#L01"));
    QVERIFY(rig.instrument->streaming());

    // The count climbs in the status bar while the list stays as it was.
    QVERIFY(waitForCount(w, 5));
    const int early = shownCount(w);
    QVERIFY(waitForCount(w, early + 10));
    QCOMPARE(w.listView()->model()->rowCount(), 0);

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(!w.sampling());
    QCOMPARE(startStopCaption(w), QStringLiteral("Start Data sampling"));
    QCOMPARE(lastCommand(rig), std::string("#L02"));
    const int firstRun = w.listModel()->list().size();
    QVERIFY(firstRun >= early + 10);
    verifyRebuiltList(w, firstRun, 0, 10);
    QCOMPARE(cellText(w, 0, 0), QStringLiteral("0"));
    const double firstMean = Instrument::recordValue(9, 1) - 0.25 * 4.5;
    QCOMPARE(cellText(w, 0, 2), QString::asprintf("%.5f", firstMean));

    // Records still in flight after "#L02" are stored; once the stream is
    // quiet the status bar catches up with the memory.
    QTRY_VERIFY(!rig.instrument->streaming());
    QTRY_COMPARE_WITH_TIMEOUT(shownCount(w), rig.values.memory.WritePosition(),
                              tarvelo::guitest::kHungMs.count());
    const int held = rig.values.memory.WritePosition();

    // A new start appends after the rows held.
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(waitForCount(w, held + 10));
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    const auto& list = w.listModel()->list();
    QVERIFY(list.size() >= held + 10);
    for (int i = 0; i < held; ++i)
        QCOMPARE(list.item(i).number, i);
    // The second series starts later (the stream paused in between) and is
    // averaged the same way.
    QVERIFY(list.item(held).row.timeMs > list.item(held - 1).row.timeMs);
    QCOMPARE(
        list.item(held).row.channel[1],
        Instrument::recordValue(static_cast<uint64_t>(list.item(held).row.timeMs - kClock), 2) -
            0.25 * 4.5);
}

void TestSampling::otherWritersWaitWhileSampling() {
    Rig rig;
    rig.writeSettings({QStringLiteral("SampleRate=12")});  // no sample within this test
    ThauptFenster& w = rig.startReady();
    QTest::mouseClick(w.button(Button::SingleShoot), Qt::LeftButton);
    QCOMPARE(rig.values.memory.RowCount(), 1);
    verifySamplingControls(w, false);

    w.action(MenuItem::StartStopSampling)->trigger();
    QVERIFY(w.sampling());
    verifySamplingControls(w, true);

    // Neither the keyboard nor a direct call clears the memory meanwhile.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    rig.dialogs.defaultAnswer = QMessageBox::Yes;
    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
    w.ClearListClick();
    QVERIFY(rig.dialogs.messages.isEmpty());
    QCOMPARE(rig.values.memory.RowCount(), 1);

    // A language picked meanwhile keeps the caption offering the stop.
    rig.values.settings.language = 0;
    w.ApplyLanguage();
    QCOMPARE(startStopCaption(w), QStringLiteral("Datenampfang beenden"));
    rig.values.settings.language = 1;
    w.ApplyLanguage();
    QCOMPARE(startStopCaption(w), QStringLiteral("Stop Data sampling"));

    // Alt+S stops; everything is usable again.
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    QVERIFY(!w.sampling());
    verifySamplingControls(w, false);
    QCOMPARE(w.listView()->model()->rowCount(), 1);
    QCOMPARE(rig.instrument->commandLog().back(), std::string("#L02"));
}

void TestSampling::failedConnects() {
    Rig rig;
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();

    // A start whose connect fails does nothing else.
    rig.instrument->setCommandFault(CommandFault::RefuseConnections);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(!w.sampling());
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device failed"));
    QCOMPARE(startStopCaption(w), QStringLiteral("Start Data sampling"));
    QVERIFY(w.button(Button::SingleShoot)->isEnabled());
    QVERIFY(w.button(Button::LoadFromFile)->isEnabled());
    QVERIFY(!rig.instrument->streaming());

    rig.instrument->setCommandFault(CommandFault::None);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(w.sampling());
    QVERIFY(waitForCount(w, 2));

    // A stop whose connect fails is carried out all the same; the send fails.
    rig.instrument->setCommandFault(CommandFault::RefuseConnections);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(!w.sampling());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages.first().text, QStringLiteral("Send error"));
    QCOMPARE(startStopCaption(w), QStringLiteral("Start Data sampling"));

    // The instrument never heard the stop: its records keep being stored,
    // and the controls the start disabled stay so while they come.
    QVERIFY(rig.instrument->streaming());
    const int afterStop = rig.values.memory.WritePosition();
    QTRY_VERIFY(rig.values.memory.WritePosition() > afterStop + 2);
    QVERIFY(w.waitingForQuietStream());
    verifySamplingControls(w, true);
}

void TestSampling::fullMemoryFromALoadStopsTheStream() {
    Rig rig(true, fixedClock());
    rig.writeSettings({QStringLiteral("SampleRate=0")});
    ThauptFenster& w = rig.startReady();
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(waitForCount(w, 20));

    // A load of exactly 10240 rows while the stream runs.
    std::vector<SampleRow> loaded(kMemoryCapacity);
    for (int i = 0; i < kMemoryCapacity; ++i)
        loaded[i].timeMs = i;
    rig.values.memory.load(loaded);

    // The thread stops the stream on a connection of its own and drains it;
    // the window turns back to "start" without rebuilding the list.
    QTRY_VERIFY(!w.sampling());
    QCOMPARE(startStopCaption(w), QStringLiteral("Start Data sampling"));
    QTRY_VERIFY(!rig.instrument->streaming());
    QCOMPARE(lastCommand(rig), std::string("#L02"));
    QCOMPARE(w.listView()->model()->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(shownCount(w), kMemoryCapacity, tarvelo::guitest::kHungMs.count());
    QCOMPARE(rig.values.memory.row(kMemoryCapacity - 1).timeMs, kMemoryCapacity - 1.0);
    QCOMPARE(rig.values.memory.row(0).timeMs, 0.0);
    // The controls the start disabled stay so until the next start and stop;
    // the other writers of the memory are usable again once the flag is off.
    for (Button b : {Button::SingleShoot, Button::ExportData, Button::SaveToFile})
        QVERIFY(!w.button(b)->isEnabled());
    for (MenuItem item : {MenuItem::Export, MenuItem::SaveToFile, MenuItem::GetActualSample})
        QVERIFY(!w.action(item)->isEnabled());
    for (Button b : {Button::LoadFromFile, Button::ClearList})
        QVERIFY(w.button(b)->isEnabled());
    for (MenuItem item :
         {MenuItem::LoadFromFile, MenuItem::DeleteSampleData, MenuItem::BatchToList})
        QVERIFY(w.action(item)->isEnabled());

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(w.sampling());
    QTRY_VERIFY(rig.values.memory.Wrapped() && rig.values.memory.WritePosition() >= 10);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    verifySamplingControls(w, false);
    // The full ring, oldest first: the loaded rows not yet overwritten, then
    // the new ones from row 0 on.
    const auto& list = w.listModel()->list();
    QCOMPARE(list.size(), kMemoryCapacity);
    const int newRows = list.item(0).number;
    QVERIFY(newRows >= 10);
    QCOMPARE(list.item(0).row.timeMs, static_cast<double>(newRows));
    QCOMPARE(list.item(kMemoryCapacity - newRows - 1).row.timeMs, kMemoryCapacity - 1.0);
    QCOMPARE(list.item(kMemoryCapacity - newRows).number, 0);
    QVERIFY(list.item(kMemoryCapacity - newRows).row.timeMs > kClock);
}

void TestSampling::streamThatClosesAndComesBack() {
    Rig rig(true, fixedClock());
    rig.writeSettings({QStringLiteral("SampleRate=1")});  // 2 records per sample
    ThauptFenster& w = rig.startReady();
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(waitForCount(w, 20));

    rig.instrument->setStreamFault(StreamFault::CloseStream);
    QTRY_VERIFY(!w.samplingThread()->connected());
    const int stored = rig.values.memory.WritePosition();
    // Closed again at every reconnect: nothing is stored meanwhile, and the
    // window stays usable.
    const int connects = w.samplingThread()->streamConnects();
    QTRY_VERIFY_WITH_TIMEOUT(w.samplingThread()->streamConnects() >= connects + 2,
                             tarvelo::guitest::kHungMs.count());
    QCOMPARE(rig.values.memory.WritePosition(), stored);

    rig.instrument->setStreamFault(StreamFault::None);
    QVERIFY(waitForCount(w, stored + 20));
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    // Oldest first, each sample the mean of two consecutive records, across
    // the gap as well.
    const auto& list = w.listModel()->list();
    QVERIFY(list.size() >= stored + 20);
    for (int32_t i = 0; i < list.size(); ++i) {
        const auto& row = list.item(i).row;
        if (i > 0)
            QVERIFY(row.timeMs > list.item(i - 1).row.timeMs);
        const auto last = static_cast<uint64_t>(row.timeMs - kClock);
        QCOMPARE(row.channel[3], Instrument::recordValue(last, 4) - 0.125);
    }
}

void TestSampling::fastStreamKeepsWindowResponsiveAndCloseIsPrompt() {
    Rig rig(true, fixedClock());
    rig.writeSettings({QStringLiteral("SampleRate=0")});
    ThauptFenster& w = rig.startReady();
    rig.instrument->setRecordsPerSecond(0);  // as fast as the connection takes them
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    // The ring wraps many times over while the window keeps showing counts.
    QTRY_VERIFY_WITH_TIMEOUT(w.samplingThread()->samplesStored() > 3u * kMemoryCapacity, 20000);
    QTRY_VERIFY(shownCount(w) > 0);
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QTRY_VERIFY(!rig.instrument->streaming());
    // Nothing was held up on the way: every record sent became a sample, and
    // the status bar ends up showing the memory's count.
    QTRY_COMPARE(w.samplingThread()->recordsConsumed(), rig.instrument->recordsSent());
    QCOMPARE(w.samplingThread()->samplesStored(), rig.instrument->recordsSent());
    QTRY_COMPARE_WITH_TIMEOUT(shownCount(w), rig.values.memory.WritePosition(),
                              tarvelo::guitest::kHungMs.count());

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    const auto before = w.samplingThread()->samplesStored();
    QTRY_VERIFY(w.samplingThread()->samplesStored() > before + 1000);

    // Closing during sampling wakes the thread and joins it.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w.close());
    QVERIFY2(clock.elapsed() < tarvelo::guitest::kHungMs.count(),
             "closing did not wake the sampling thread");
    QVERIFY(!w.samplingThread());
}

void TestSampling::runOfCountsShowsTheNewest() {
    Rig rig(false);
    rig.writeSettings();
    ThauptFenster& w = rig.start();
    // A receive's samples arrive as one run; the count after the last shows,
    // also when the run crosses the end of the ring.
    w.samplesStoredRun(10238, 2);
    QTRY_COMPARE(w.statusText(), QStringLiteral("10239 data sets received"));
    w.samplesStoredRun(10239, 2);
    QTRY_COMPARE(w.statusText(), QStringLiteral("10240 data sets received"));
    w.samplesStoredRun(10240, 3);
    QTRY_COMPARE(w.statusText(), QStringLiteral("2 data sets received"));
    w.samplesStoredRun(5, 1365);
    QTRY_COMPARE(w.statusText(), QStringLiteral("1369 data sets received"));
}

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Until destroyed, files of this process cannot grow beyond `bytes`: writes
// beyond fail as on a full disk.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
    }
    rlimit old{};
    void (*previous)(int) = nullptr;
};

}  // namespace

// The Samples menu switches the recording on and off; the file holds the
// export text of every sample stored meanwhile. A write that fails ends the
// recording with a box while sampling goes on.
void TestSampling::recordingFromTheSamplesMenu() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Rig rig(true, fixedClock());
    rig.writeSettings({QStringLiteral("SampleRate=0")});
    ThauptFenster& w = rig.startReady();
    QTRY_VERIFY(w.samplingThread()->connected());
    QAction* item = w.action(MenuItem::RecordToFile);
    QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    QCOMPARE(item->text(), QStringLiteral("&Record to file..."));

    const QString path = rig.folder() + QStringLiteral("/run.asc");
    rig.dialogs.fileAnswers << path;
    item->trigger();
    const auto request = rig.dialogs.fileRequests.last();
    QCOMPARE(request.filter, QStringLiteral("ASCII-Datei (*.asc)"));
    QCOMPARE(request.defaultSuffix, QStringLiteral("asc"));
    QVERIFY(request.confirmOverwrite);
    QVERIFY(w.recording());
    QVERIFY(item->isChecked());
    QCOMPARE(w.statusText(), QStringLiteral("Recording to ") + path);
    QLabel* sign = rig.windows.graph->recordingSign();
    QVERIFY(sign && !sign->isHidden());
    // The main window's sign stays beside the count for the whole recording.
    QVERIFY(!w.recordingSignLabel()->isHidden());
    QCOMPARE(w.recordingSignLabel()->text(), QStringLiteral("Recording"));

    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QVERIFY(waitForCount(w, 300));
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
    QTRY_VERIFY(!rig.instrument->streaming());
    QTRY_VERIFY(w.samplingThread()->recordsConsumed() == rig.instrument->recordsSent());
    item->trigger();
    QVERIFY(!w.recording());
    QVERIFY(!item->isChecked());
    QVERIFY(sign->isHidden());
    QVERIFY(w.recordingSignLabel()->isHidden());
    // Exactly the export text of the memory, which held nothing before.
    const std::string expected = tarvelo::common::utf8ToCp1252(
        tarvelo::files::exportText(rig.values.memory, w.sampleList(), ','));
    QVERIFY(readAll(path) == QByteArray::fromStdString(expected));
    QVERIFY(expected.find(',') != std::string::npos);  // the regional separator
    QVERIFY(rig.dialogs.messages.isEmpty());

    const QString cut = rig.folder() + QStringLiteral("/cut.asc");
    rig.dialogs.fileAnswers << cut;
    item->trigger();
    QVERIFY(w.recording());
    {
        FileSizeLimit limit(64 * 1024);
        QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.recording(), tarvelo::guitest::kHungMs.count());
    }
    QVERIFY(!item->isChecked());
    QVERIFY(w.recordingSignLabel()->isHidden());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Error"));
    QVERIFY(rig.dialogs.messages[0].text.startsWith(QStringLiteral("Recording to ") + cut +
                                                    QStringLiteral(" was switched off: ")));
    // The file keeps the whole lines written before, numbered from 1;
    // sampling goes on.
    const QList<QByteArray> kept = readAll(cut).split('\n');
    QVERIFY(kept.size() > 3);
    QCOMPARE(kept.last(), QByteArray());  // ends with the line end
    QVERIFY(kept[kept.size() - 2].startsWith(QByteArray::number(kept.size() - 2) + '\t'));
    QVERIFY(w.sampling());
    const int now = shownCount(w);
    QVERIFY(waitForCount(w, now + 20));
    QTest::mouseClick(w.button(Button::StartStopTransfer), Qt::LeftButton);
}

QTEST_MAIN(TestSampling)
#include "tst_sampling.moc"
