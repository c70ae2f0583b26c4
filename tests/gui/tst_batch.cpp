// The batch memory readouts from the main window against the simulated
// instrument: into the list and memory, and into a file with the progress
// window.

#include <QDir>
#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>

#include "acquisition/mgauge.h"
#include "acquisition/samplelistmodel.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::gui::ThauptFenster;
using Button = ThauptFenster::Button;
using tarvelo::app::MenuItem;
using tarvelo::guitest::cellText;
using tarvelo::guitest::Rig;
namespace sim = tarvelo::sim;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> lines(const QByteArray& content) {
    QList<QByteArray> result = content.split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

const QByteArray kHeader =
    "Nr.\tDate/Time\tCh1\tCh2\tCh3\tCh4\tBatch\tiBatch\tUpper Peak 1\tUpper Peak 2\t"
    "Upper Peak 3\tUpper Peak 4\tLower Peak 1\tLower Peak 2\tLower Peak 3\tLower Peak 4\t"
    "Unit 1\tUnit 2\tUnit 3\tUnit 4\tSerial 1\tSerial 2\tSerial 3\tSerial 4\r\n";

// What the progress window showed at each step of a readout, seen from the
// bar's signal, and the paints it received while the event loop was blocked.
struct GaugeWatch : QObject {
    struct Step {
        int value;
        int maximum;
        bool visible;
        int paintsBefore;
    };
    explicit GaugeWatch(tarvelo::gui::Tform_gauge* gauge) : gauge(gauge) {
        gauge->progressBar()->installEventFilter(this);
        connect(gauge->progressBar(), &QProgressBar::valueChanged, this, [this](int value) {
            steps.append(
                {value, this->gauge->progressBar()->maximum(), this->gauge->isVisible(), paints});
        });
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    tarvelo::gui::Tform_gauge* gauge;
    QList<Step> steps;
    int paints = 0;
};

}  // namespace

class TestBatch : public QObject {
    Q_OBJECT
private slots:
    void batchToFileWritesTheRecordsWithProgress();
    void batchToFileOfNoRecordsWritesTheHeader();
    void batchToFileFailures();
    void batchToMemoryAppendsRowsAndEnablesSave();
    void batchToMemoryErrors();
    void readoutsCanBeFollowedAndCancelled();
    void missingFolderAndEmptyBatch();
};

void TestBatch::batchToFileWritesTheRecordsWithProgress() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    GaugeWatch watch(rig.windows.gauge);
    rig.instrument->clearCommandLog();

    const QString path = rig.folder() + QStringLiteral("/batch.txt");
    rig.dialogs.fileAnswers << path;
    w.Batchtofile1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));

    QCOMPARE(rig.dialogs.fileRequests.size(), 1);
    const tarvelo::gui::FileRequest request = rig.dialogs.fileRequests.first();
    QCOMPARE(request.title, QStringLiteral("Export batch memory"));
    QCOMPARE(request.folder, rig.folder());
    QCOMPARE(request.filter, QStringLiteral("Batch files (*.txt)"));
    QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
    QVERIFY(request.confirmOverwrite);
    QVERIFY(rig.dialogs.messages.isEmpty());

    // One step per record, each with the window up and painted while no
    // event loop ran.
    QCOMPARE(rig.windows.gauge->progressBar()->maximum(), 3);
    QList<GaugeWatch::Step> steps;
    for (const auto& step : watch.steps)
        if (step.value > 0)
            steps.append(step);
    QCOMPARE(steps.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(steps[i].value, i + 1);
        QCOMPARE(steps[i].maximum, 3);
        QVERIFY(steps[i].visible);
        if (i > 0)
            QVERIFY(steps[i].paintsBefore > steps[i - 1].paintsBefore);
    }
    QVERIFY(watch.paints > watch.steps.last().paintsBefore);
    QCOMPARE(rig.windows.gauge->label()->text(), QStringLiteral("Batch memory reading"));
    QVERIFY(!rig.windows.gauge->isVisible());

    // No unit or serial query for record 1, which has no batch name.
    const std::vector<std::string> log = rig.instrument->commandLog();
    QCOMPARE(log.size(), std::size_t(1 + 12 + 4 + 12));
    QCOMPARE(log[0], std::string("#M01"));
    QCOMPARE(log[13], std::string("#M401"));
    QCOMPARE(log[17], std::string("#M402"));

    const QList<QByteArray> file = lines(readAll(path));
    QCOMPARE(file.size(), 4);
    QCOMPARE(file[0] + '\n', kHeader);
    const int fields[] = {24, 24, 16, 24};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(file[i].endsWith('\r'));
        QCOMPARE(int(file[i].count('\t')) + 1, fields[i]);
    }
    QCOMPARE(file[1],
             QByteArray("1\t14.11.2023 22.13.20.123\t12,5\t-0,003\t0\t1000\tLot \xC4\t1\t13\t"
                        "0,497\t0,5\t1000,5\t12,25\t-0,253\t-0,25\t999,75\tN\tmm\t\t\xB0"
                        "C\tSN-1001\tSN-1002\tSN-1003\tSN-1004\r"));
    QVERIFY(file[2].startsWith("2\t14.11.2023 22.14.20.000\t1\t2\t3\t4\t\t\t1,5\t"));

    // The file readout leaves the memory and the list alone.
    QCOMPARE(rig.values.memory.RowCount(), 0);
    QCOMPARE(w.listModel()->rowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());
}

void TestBatch::batchToFileOfNoRecordsWritesTheHeader() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    rig.instrument->overrideReply("#M01", "#M01-1");
    rig.instrument->clearCommandLog();

    const QString path = rig.folder() + QStringLiteral("/none.txt");
    rig.dialogs.fileAnswers << path;
    w.Batchtofile1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(readAll(path), kHeader);
    QCOMPARE(rig.windows.gauge->progressBar()->maximum(), 0);
    QCOMPARE(rig.instrument->commandLog(), std::vector<std::string>{"#M01"});
    QVERIFY(!rig.windows.gauge->isVisible());
}

void TestBatch::batchToFileFailures() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    rig.instrument->clearCommandLog();

    // Cancelled dialog: nothing is asked of the instrument.
    w.Batchtofile1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QVERIFY(rig.instrument->commandLog().empty());

    // A malformed count: its message, nothing read, no file.
    rig.instrument->overrideReply("#M01", "#ERR");
    const QString path = rig.folder() + QStringLiteral("/never.txt");
    rig.dialogs.fileAnswers << path;
    w.Batchtofile1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Get Number of Data Sets"));
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Error"));
    QCOMPARE(rig.dialogs.messages[0].icon, QMessageBox::Critical);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(rig.instrument->commandLog().size(), std::size_t(1));

    // One failed record query shows its message and the readout goes on; a
    // file that cannot be written is reported and the old one stays.
    rig.instrument->clearReplyOverrides();
    rig.instrument->overrideReply("#M01", "#M010");
    rig.instrument->overrideReply("#M210", "#ERR");
    const QString blocked = rig.folder() + QStringLiteral("/blocked.txt");
    QVERIFY(QDir().mkdir(blocked));
    rig.dialogs.fileAnswers << blocked;
    w.Batchtofile1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.dialogs.messages.size(), 3);
    QCOMPARE(rig.dialogs.messages[1].text, QStringLiteral("Get Upper Peak "));
    QCOMPARE(rig.dialogs.messages[2].caption, QStringLiteral("Error"));
    QVERIFY(rig.dialogs.messages[2].text.contains(QStringLiteral("blocked.txt")));
    QVERIFY(QFileInfo(blocked).isDir());
    QVERIFY(!rig.windows.gauge->isVisible());
}

void TestBatch::batchToMemoryAppendsRowsAndEnablesSave() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());
    rig.instrument->clearCommandLog();

    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(
        rig.instrument->commandLog(),
        (std::vector<std::string>{"#M01", "#M110", "#M400", "#M111", "#M401", "#M112", "#M402"}));
    QVERIFY(rig.dialogs.messages.isEmpty());
    QCOMPARE(rig.values.memory.WritePosition(), 3);
    QCOMPARE(w.listModel()->rowCount(), 3);
    QCOMPARE(cellText(w, 0, 0), QStringLiteral("1"));
    QCOMPARE(cellText(w, 2, 0), QStringLiteral("3"));
    QCOMPARE(cellText(w, 0, 1), QStringLiteral("14.11.2023 22.13.20.123"));
    QCOMPARE(cellText(w, 0, 2), QStringLiteral("12.50000"));
    QCOMPARE(cellText(w, 0, 3), QStringLiteral("-0.00300"));
    QCOMPARE(cellText(w, 2, 5), QStringLiteral("7.75000"));
    QCOMPARE(int(rig.values.memory.row(1).deviceFlag), 0);
    QVERIFY(w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(w.button(Button::ExportData)->isEnabled());
    QVERIFY(!rig.windows.gauge->isVisible());

    // A second readout appends after the first.
    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.values.memory.WritePosition(), 6);
    QCOMPARE(cellText(w, 5, 0), QStringLiteral("6"));
}

void TestBatch::batchToMemoryErrors() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();

    rig.instrument->overrideReply("#M01", "#M0");
    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text, QStringLiteral("Get Number of Data Sets"));
    QCOMPARE(rig.values.memory.RowCount(), 0);
    QVERIFY(!w.button(Button::SaveToFile)->isEnabled());

    // A failed value query still appends its row, with the values unread
    // (shown empty, not as measured zeros).
    rig.instrument->clearReplyOverrides();
    rig.instrument->overrideReply("#M111", "#ERR");
    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QCOMPARE(rig.dialogs.messages[1].text, QStringLiteral("Get Val Ch 1"));
    QCOMPARE(rig.values.memory.RowCount(), 3);
    QCOMPARE(cellText(w, 1, 2), QString());
    QCOMPARE(cellText(w, 1, 1), QStringLiteral("14.11.2023 22.14.20.000"));

    // Nothing listening: the status line reports it, nothing else happens.
    rig.instrument->setCommandFault(sim::CommandFault::RefuseConnections);
    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.dialogs.messages.size(), 2);
    QCOMPARE(w.statusText(), QStringLiteral("Connection to Device failed"));
    QCOMPARE(rig.values.memory.RowCount(), 3);
}

namespace {

// The records whose values the instrument was asked for so far.
int recordsAsked(const tarvelo::sim::Instrument& instrument) {
    int n = 0;
    for (const std::string& command : instrument.commandLog())
        n += command.rfind("#M11", 0) == 0 ? 1 : 0;
    return n;
}

// Waits until the readout has read `records` records, then presses Escape in
// the progress window; returns how many records the readout asked for after
// it (-1 when it did not end).
int recordsAfterCancel(ThauptFenster& w, tarvelo::gui::Tform_gauge* gauge,
                       const tarvelo::sim::Instrument& instrument, int records) {
    if (!QTest::qWaitFor([&] { return gauge->progressBar()->value() >= records; },
                         tarvelo::guitest::kHungMs.count()))
        return -1;
    const int before = recordsAsked(instrument);
    QTest::keyClick(gauge, Qt::Key_Escape);
    if (!tarvelo::guitest::waitForBatch(w))
        return -1;
    return recordsAsked(instrument) - before;
}

}  // namespace

// Both readouts of 300 records: followed in the progress window while the
// windows go on, and cancelled with Escape within about one record.
void TestBatch::readoutsCanBeFollowedAndCancelled() {
    tarvelo::sim::InstrumentConfig config;
    config.batchCount = 300;
    Rig rig(true, config);
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    auto* gauge = rig.windows.gauge;
    GaugeWatch watch(gauge);

    const QString path = rig.folder() + QStringLiteral("/kept.txt");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier readout\r\n");
    old.close();
    rig.dialogs.fileAnswers << path;
    w.Batchtofile1Click();
    QVERIFY(QTest::qWaitFor([&] { return gauge->progressBar()->value() >= 2; },
                            tarvelo::guitest::kHungMs.count()));
    // Meanwhile the window answers, and the commands that talk to the
    // instrument or write the memory are disabled.
    QVERIFY(w.batchRunning());
    QCOMPARE(gauge->progressBar()->maximum(), 300);
    QVERIFY(gauge->countLabel()->text().contains(QStringLiteral(" of 300 records read\nabout ")));
    QCOMPARE(gauge->cancelButton()->text(), QStringLiteral("Cancel"));
    QVERIFY(watch.paints >= 2);
    for (auto b : {Button::SingleShoot, Button::StartStopTransfer, Button::LoadFromFile})
        QVERIFY(!w.button(b)->isEnabled());
    QVERIFY(!w.action(MenuItem::BatchToList)->isEnabled());
    QVERIFY(!w.action(MenuItem::BatchToFile)->isEnabled());
    // The cancel ends the readout after the record under way: at most the
    // one it had begun when the key was pressed, and the next it may have
    // begun meanwhile.
    const int afterFileCancel = recordsAfterCancel(w, gauge, *rig.instrument, 2);
    QVERIFY2(afterFileCancel >= 0 && afterFileCancel <= 2,
             qPrintable(QString::number(afterFileCancel)));
    // The records read before the cancel are in the file, and the box says
    // how many of all.
    const QList<QByteArray> lines = readAll(path).split('\n');
    const int read = static_cast<int>(lines.size()) - 2;
    QVERIFY2(read >= 2 && read < 300, qPrintable(QString::number(read)));
    QVERIFY(lines[0].startsWith("Nr.\t"));
    QVERIFY(lines[read].startsWith(QByteArray::number(read) + '\t'));
    QVERIFY(!gauge->isVisible());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text,
             QStringLiteral("The readout was cancelled. %1 of 300 records were read; they are in %2.")
                 .arg(read)
                 .arg(QDir::toNativeSeparators(path)));
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Error"));
    rig.dialogs.messages.clear();
    QVERIFY(w.button(Button::SingleShoot)->isEnabled());
    QVERIFY(w.action(MenuItem::BatchToFile)->isEnabled());

    // Batch to list keeps the rows read before the cancel, and they can be
    // saved and exported.
    w.Batchlesen1Click();
    const int afterListCancel = recordsAfterCancel(w, gauge, *rig.instrument, 3);
    QVERIFY2(afterListCancel >= 0 && afterListCancel <= 2,
             qPrintable(QString::number(afterListCancel)));
    const int rows = rig.values.memory.RowCount();
    QVERIFY2(rows >= 3 && rows < 300, qPrintable(QString::number(rows)));
    QCOMPARE(w.listModel()->rowCount(), rows);
    QCOMPARE(cellText(w, rows - 1, 0), QString::number(rows));
    QVERIFY(w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(w.action(MenuItem::Export)->isEnabled());
    QVERIFY(w.action(MenuItem::BatchToList)->isEnabled());
    QVERIFY(rig.dialogs.messages.isEmpty());
}

// A save path in a folder that does not exist is refused before anything is
// asked of the instrument; a batch memory of no records still enables Save
// and Export after Batch to list.
void TestBatch::missingFolderAndEmptyBatch() {
    Rig rig(true, tarvelo::test::threeBatchRecords());
    rig.writeSettings();
    ThauptFenster& w = rig.startReady();
    rig.instrument->clearCommandLog();

    const QString missing = rig.folder() + QStringLiteral("/gone");
    rig.dialogs.fileAnswers << missing + QStringLiteral("/batch.txt");
    w.Batchtofile1Click();
    QVERIFY(!w.batchRunning());
    QVERIFY(rig.instrument->commandLog().empty());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].text,
             QStringLiteral("The folder does not exist:\n") + missing);
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Error"));

    rig.instrument->overrideReply("#M01", "#M01-1");
    w.Batchlesen1Click();
    QVERIFY(tarvelo::guitest::waitForBatch(w));
    QCOMPARE(rig.values.memory.RowCount(), 0);
    QVERIFY(w.button(Button::SaveToFile)->isEnabled());
    QVERIFY(w.button(Button::ExportData)->isEnabled());
    QVERIFY(w.action(MenuItem::SaveToFile)->isEnabled());
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
