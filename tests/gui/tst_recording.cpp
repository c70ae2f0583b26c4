// A recording made by tarvelo-cli against the simulated instrument, opened
// through the core and in the recording window, checked against values
// read from the file here, line by line, with Qt's own parsers.
#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "acquisition/sample_row.h"
#include "analysis/mrecording.h"
#include "analysis/recordingview.h"
#include "analysis/statistics.h"
#include "app/mmain.h"
#include "files/csv_text.h"
#include "files/sample_file.h"
#include "recording/recording_reader.h"
#include "recording/stretch.h"
#include "support.h"

using namespace tarvelo;
using gui::RecordingView;
using gui::TrecordingWindow;
using guitest::Rig;

namespace {

constexpr int kSamples = 30000;
constexpr int kGapFrom = 20000, kGapLength = 1500;  // samples taken out: 1.5 s without samples

struct FileRows {
    std::vector<acquisition::SampleRow> rows;
};

// The samples of a CSV recording, read with QString and QDateTime.
FileRows readIndependently(const QString& path) {
    FileRows file;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return file;
    in.readLine();  // the header
    while (!in.atEnd()) {
        const QList<QByteArray> fields = in.readLine().trimmed().split(',');
        acquisition::SampleRow row{};
        QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[1]), Qt::ISODateWithMs);
        time.setTimeSpec(Qt::UTC);
        row.timeMs = static_cast<double>(time.toMSecsSinceEpoch());
        for (int k = 0; k < 4; ++k)
            row.channel[k] = fields[k + 2].toDouble();
        file.rows.push_back(row);
    }
    return file;
}

// The samples of [fromMs, toMs).
std::vector<acquisition::SampleRow> between(const std::vector<acquisition::SampleRow>& rows,
                                            double fromMs, double toMs) {
    std::vector<acquisition::SampleRow> part;
    for (const auto& row : rows)
        if (row.timeMs >= fromMs && row.timeMs < toMs)
            part.push_back(row);
    return part;
}

QString cellsOf(const analysis::StatisticsResult& result) {
    QString text = QString::number(result.count);
    for (int k = 0; k < 4; ++k)
        for (auto row : {analysis::StatisticRow::Minimum, analysis::StatisticRow::Maximum,
                         analysis::StatisticRow::Average, analysis::StatisticRow::Deviation})
            text += QLatin1Char(' ') +
                    QString::fromStdString(analysis::statisticCellText(result, k, row, '.'));
    return text;
}

QString windowCells(TrecordingWindow& w) {
    QString text = w.findChild<QLabel*>(QStringLiteral("numDataSets"))->text().section(' ', -1);
    for (int k = 1; k <= 4; ++k)
        for (int r = 0; r < 4; ++r)
            text += QLatin1Char(' ') +
                    w.findChild<QLabel*>(QStringLiteral("cell%1_%2").arg(r).arg(k))->text();
    return text;
}

// The rows of an exported stretch as another program reads them: the header's
// captions, then per row the time in milliseconds since 1970 and the four
// values with "." and five decimals, checking on the way that the rows are
// numbered from 1.
const char* const kReadBack = R"(
import csv, datetime, sys
path = sys.argv[1]
def ms(text, form):
    t = datetime.datetime.strptime(text, form).replace(tzinfo=datetime.timezone.utc)
    return round(t.timestamp() * 1000)
rows = []
if path.endswith(".asc"):
    lines = open(path, encoding="cp1252", newline="").read().split("\r\n")
    assert lines[-1] == ""
    header = lines[0].split("\t")[1:]
    for n, line in enumerate(lines[1:-1], 1):
        f = line.split("\t")
        assert int(f[0]) == n and f[6] == "", line
        rows.append([ms(f[1], "%d.%m.%Y %H.%M.%S.%f")] + [v.replace(",", ".") for v in f[2:6]])
elif path.endswith(".csv"):
    table = list(csv.reader(open(path, encoding="utf-8", newline="")))
    header = table[0][1:]
    for n, f in enumerate(table[1:], 1):
        assert int(f[0]) == n, f
        rows.append([ms(f[1], "%Y-%m-%dT%H:%M:%S.%f")] + f[2:6])
else:
    import openpyxl
    sheet = openpyxl.load_workbook(path)["Tabelle1"]
    table = list(sheet.iter_rows(values_only=True))
    header = list(table[0][1:6])
    for n, f in enumerate(table[1:], 1):
        assert f[0] == n, f
        rows.append([ms(f[1], "%d.%m.%Y %H.%M.%S.%f")] + ["%.5f" % v for v in f[2:6]])
print("|".join(header))
for r in rows:
    print(" ".join(str(v) for v in r))
)";

// The same lines from rows, as the file should give them.
QString readBackOf(const QStringList& captions, const std::vector<acquisition::SampleRow>& rows) {
    QString text = captions.join(QLatin1Char('|')) + QLatin1Char('\n');
    for (const auto& row : rows) {
        text += QString::number(static_cast<qint64>(row.timeMs));
        for (double value : row.channel)
            text += QLatin1Char(' ') + QString::number(value, 'f', 5);
        text += QLatin1Char('\n');
    }
    return text;
}

std::vector<acquisition::SampleRow> memoryRows(const app::ProcessValues& values) {
    return values.memory.snapshot().rows;
}

// A stretch of a long recording with an odd rate and a gap, taken into
// the sample memory and exported: the memory's rows are those tarvelo-cli
// converts from the stretch's lines, the files read back by another
// program hold them too; what is too long for the memory or a workbook
// is refused with how far to zoom, before anything changes.
void takeAndExportTheStretchInView() {
    Rig rig(false);
    rig.writeSettings({QStringLiteral("Language=1")});
    rig.start();
    auto& memory = rig.values.memory;

    // More samples than a workbook holds, one every 7 ms, and 5 s
    // missing after sample kGap.
    constexpr int kLong = 1048600, kGap = 600000;
    const QString path = rig.folder() + QStringLiteral("/long.csv");
    QList<QByteArray> lines;
    {
        acquisition::SampleList captions;
        captions.setCaption(1, "Time");
        for (int k = 1; k <= 4; ++k)
            captions.setCaption(k + 1, "Channel " + std::to_string(k));
        captions.setCaption(2, "Channel 1 (\xC2\xB0" "C)");
        std::string text = files::csvHeaderLine(captions);
        acquisition::SampleRow row{};
        for (int64_t i = 0; i < kLong; ++i) {
            row.timeMs = 1765290000000.0 + 7.0 * static_cast<double>(i) + (i >= kGap ? 5000 : 0);
            for (int k = 0; k < 4; ++k)
                row.channel[k] = static_cast<double>((i * 7919 * (k + 1)) % 2000001 - 1000000) / 1e5;
            files::appendCsvLine(text, static_cast<uint64_t>(i) + 1, row);
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text.data(), static_cast<qint64>(text.size()));
        lines = QByteArray::fromStdString(text).split('\n');
    }
    rig.dialogs.fileAnswers << path;
    rig.window().openRecordingAction()->trigger();
    auto* w = rig.window().findChild<TrecordingWindow*>();
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(w->recording(), 60000);
    w->resize(1000, 640);
    auto* take = w->findChild<QPushButton*>(QStringLiteral("TakeIntoMemory"));
    auto* exportButton = w->findChild<QPushButton*>(QStringLiteral("ExportStretch"));
    QVERIFY(take && exportButton);
    const auto answerOnce = [&](QMessageBox::StandardButton answer) { rig.dialogs.answers << answer; };

    // The whole run: too long for the memory, with how far to zoom (in
    // the regional format), and for a workbook, refused in the dialog
    // before anything is written.
    {
        guitest::ScopedFormat german(QLocale(QLocale::German, QLocale::Germany));
        take->click();
    }
    QCOMPARE(rig.dialogs.messages.size(), 1);
    const auto tooLong = rig.dialogs.messages.takeFirst();
    QCOMPARE(tooLong.text, QStringLiteral("The visible stretch holds 1048600 samples; the sample "
                                          "memory takes at most 10240.\nZoom in at least 102,5 "
                                          "times (to 71,67 s or less)."));
    // A view of that span holds what the memory takes.
    const double t0 = static_cast<double>(w->recording()->timeMs(1000));
    w->view()->showView({t0, t0 + 71670, false, 0, 1});
    const auto [fromFitting, toFitting] = w->view()->visibleStretch();
    QCOMPARE(toFitting - fromFitting, uint64_t{10239});
    w->view()->wholeRun();
    QCOMPARE(tooLong.caption, QStringLiteral("Take into memory"));
    QCOMPARE(memory.RowCount(), 0);
    const QString whole = rig.folder() + QStringLiteral("/whole.xlsx");
    rig.dialogs.fileAnswers << whole;
    exportButton->click();
    QVERIFY(!w->exporting());
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages.takeFirst().text,
             QStringLiteral("A workbook holds at most 1048575 samples; the visible stretch holds "
                            "1048600.\nZoom in, or export to .asc or .csv. Nothing was written."));
    QVERIFY(!QFile::exists(whole));
    // The writer itself refuses too, before anything is made.
    QCOMPARE(recording::exportStretch(*w->recording(), 0, w->recording()->size(),
                                      recording::StretchFormat::Workbook, whole.toStdString(), '.')
                 .result,
             recording::StretchExport::Result::TooManyRows);
    QVERIFY(!QFile::exists(whole));
    QCOMPARE(QDir(rig.folder()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("whole")),
             QStringList());

    // A stretch across the gap: its samples [a, b).
    constexpr int a = kGap - 1500, b = kGap + 1000;
    const recording::Recording& run = *w->recording();
    w->view()->showView({static_cast<double>(run.timeMs(a)), static_cast<double>(run.timeMs(b - 1)),
                         false, 0, 1});
    QCOMPARE(w->view()->visibleStretch(), (std::pair<uint64_t, uint64_t>(a, b)));

    // Taken into a memory that holds a sample: No keeps it, Yes replaces it.
    QVERIFY(rig.window().replaceMemory({acquisition::SampleRow{}}, &rig.window()));
    answerOnce(QMessageBox::No);
    take->click();
    QCOMPARE(rig.dialogs.messages.takeFirst().text,
             QStringLiteral("Should the measured value memory be deleted?"));
    QCOMPARE(memory.RowCount(), 1);
    answerOnce(QMessageBox::Yes);
    take->click();
    QCOMPARE(rig.dialogs.messages.size(), 1);
    rig.dialogs.messages.clear();
    QCOMPARE(memory.RowCount(), b - a);
    QCOMPARE(rig.window().sampleList().size(), b - a);
    QVERIFY(rig.window().button(gui::ThauptFenster::Button::SaveToFile)->isEnabled());
    QVERIFY(rig.window().button(gui::ThauptFenster::Button::ExportData)->isEnabled());

    // The rows tarvelo-cli converts from the stretch's lines, to the five
    // decimals of the file; the 5 s gap stays a jump of the time.
    const QString cut = rig.folder() + QStringLiteral("/cut.csv");
    {
        QFile out(cut);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(lines[0] + '\n');
        for (int i = a; i < b; ++i)
            out.write(lines[i + 1] + '\n');
    }
    QProcess cli;
    cli.start(QStringLiteral(TARVELO_CLI_BINARY),
              {QStringLiteral("convert"), cut, QStringLiteral("--out"), rig.folder() + QStringLiteral("/cut.dat")});
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    const auto converted = files::loadSampleFile((rig.folder() + QStringLiteral("/cut.dat")).toStdString());
    QVERIFY(converted.ok());
    const auto taken = memoryRows(rig.values);
    QCOMPARE(taken.size(), converted.rows.size());
    for (std::size_t i = 0; i < taken.size(); ++i) {
        QCOMPARE(taken[i].timeMs, converted.rows[i].timeMs);
        for (int k = 0; k < 4; ++k)
            QCOMPARE(taken[i].channel[k], converted.rows[i].channel[k]);
    }
    QCOMPARE(taken[1500].timeMs - taken[1499].timeMs, 5007.0);
    // The statistics window's figures of the memory are the panel's.
    QCOMPARE(windowCells(*w), cellsOf(analysis::ComputeStatistics(taken)));

    // Sampling owns the memory: nothing is taken.
    rig.window().setMemoryWritersEnabled(false);
    take->click();
    rig.window().setMemoryWritersEnabled(true);
    QCOMPARE(rig.dialogs.messages.takeFirst().text,
             QStringLiteral("The sample memory cannot be replaced while sampling or a batch readout is running."));

    // The stretch exported in each format and read back by another program;
    // the export text with the regional decimal comma.
    const QStringList captions = {QStringLiteral("Time"), QString::fromUtf8("Channel 1 (\u00b0C)"),
                                  QStringLiteral("Channel 2"), QStringLiteral("Channel 3"),
                                  QStringLiteral("Channel 4")};
    for (const char* suffix : {"asc", "csv", "xlsx"}) {
        const QString file = rig.folder() + QStringLiteral("/stretch.") + QLatin1String(suffix);
        rig.dialogs.fileAnswers << file;
        {
            guitest::ScopedFormat german(QLocale(QLocale::German, QLocale::Germany));
            exportButton->click();
        }
        QVERIFY(w->exporting());
        QTRY_VERIFY_WITH_TIMEOUT(!w->exporting(), 60000);
        QVERIFY(rig.dialogs.messages.isEmpty());
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QLatin1String(kReadBack), file});
        QVERIFY(python.waitForFinished(60000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()), readBackOf(captions, taken));
    }
    QFile asc(rig.folder() + QStringLiteral("/stretch.asc"));
    QVERIFY(asc.open(QIODevice::ReadOnly));
    asc.readLine();
    QVERIFY(asc.readLine().split('\t')[2].contains(','));

    // A file that may not be written: the failure box, the file as it was.
    QFile::setPermissions(rig.folder() + QStringLiteral("/stretch.csv"), QFile::ReadOwner);
    const QByteArray before = [&] {
        QFile f(rig.folder() + QStringLiteral("/stretch.csv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    w->view()->wholeRun();
    rig.dialogs.fileAnswers << rig.folder() + QStringLiteral("/stretch.csv");
    exportButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->exporting(), 60000);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].caption, QStringLiteral("Error"));
    QVERIFY2(rig.dialogs.messages[0].text.startsWith(QStringLiteral("The file could not be written.")),
             qPrintable(rig.dialogs.messages[0].text));
    QFile after(rig.folder() + QStringLiteral("/stretch.csv"));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);

    // Closing the window while it writes the whole run stops the writing:
    // the file is not there or whole, and no temporary file stays.
    rig.dialogs.messages.clear();
    rig.dialogs.fileAnswers << rig.folder() + QStringLiteral("/all.csv");
    exportButton->click();
    QVERIFY(w->exporting());
    delete w;
    const QStringList left =
        QDir(rig.folder()).entryList({QStringLiteral("*all.csv*")}, QDir::Files | QDir::Hidden);
    if (!left.isEmpty()) {
        QCOMPARE(left, QStringList{QStringLiteral("all.csv")});
        QFile all(rig.folder() + QStringLiteral("/all.csv"));
        QVERIFY(all.open(QIODevice::ReadOnly));
        QCOMPARE(all.readAll().count('\n'), kLong + 1);
    }
    QCoreApplication::processEvents();
    QVERIFY(rig.dialogs.messages.isEmpty());
}

}  // namespace

class TestRecording : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void opensACliRecordingAndExploresIt() {
        // An instrument of its own for tarvelo-cli: the program's sampling
        // thread holds its instrument's stream.
        sim::InstrumentConfig config;
        config.recordsPerSecond = 0;  // as fast as the connection takes them
        sim::Instrument instrument(config);
        QVERIFY(instrument.start());
        Rig rig(false);
        rig.writeSettings({QStringLiteral("Language=1")});
        rig.start();

        // tarvelo-cli records every record of the exact stream as a sample.
        const QString path = rig.folder() + QStringLiteral("/run.csv");
        QProcess cli;
        cli.start(QStringLiteral(TARVELO_CLI_BINARY),
                  {QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                   QString::number(instrument.commandPort()), QStringLiteral("record"), QStringLiteral("--samples"),
                   QString::number(kSamples), QStringLiteral("--rate"), QStringLiteral("0"),
                   QStringLiteral("--out"), path});
        QVERIFY(cli.waitForFinished(120000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        // A reconnect that lost samples: lines taken out of the middle.
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QList<QByteArray> lines = file.readAll().split('\n');
            file.close();
            lines.erase(lines.begin() + 1 + kGapFrom, lines.begin() + 1 + kGapFrom + kGapLength);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(lines.join('\n'));
        }
        const auto rows = readIndependently(path).rows;
        QCOMPARE(static_cast<int>(rows.size()), kSamples - kGapLength);

        // The core.
        const auto outcome = recording::readRecording(QFile::encodeName(path).toStdString());
        QVERIFY2(outcome.recording, outcome.error.c_str());
        const auto& r = *outcome.recording;
        QCOMPARE(r.size(), rows.size());
        QCOMPARE(static_cast<double>(r.timeMs(0)), rows.front().timeMs);
        QCOMPARE(static_cast<double>(r.timeMs(r.size() - 1)), rows.back().timeMs);
        QCOMPARE(r.gaps(), std::vector<uint64_t>{kGapFrom});
        QCOMPARE(cellsOf(r.statistics(0, r.size())), cellsOf(analysis::ComputeStatistics(rows)));

        // The window, opened from the File menu.
        rig.dialogs.fileAnswers << path;
        rig.window().openRecordingAction()->trigger();
        auto* w = rig.window().findChild<TrecordingWindow*>();
        QVERIFY(w);
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("run.csv")));
        QTRY_VERIFY_WITH_TIMEOUT(w->recording(), 30000);
        w->resize(1000, 640);
        RecordingView* view = w->view();
        QCOMPARE(windowCells(*w), cellsOf(analysis::ComputeStatistics(rows)));

        // A zoomed stretch: the statistics of its samples, and every pixel
        // column's smallest and largest value of the samples in it.
        const double t0 = rows[5000].timeMs + 0.5, t1 = rows[9000].timeMs + 0.25;
        view->showView({t0, t1, false, 0, 1});
        QCOMPARE(windowCells(*w), cellsOf(analysis::ComputeStatistics(between(rows, t0, std::floor(t1) + 1))));
        const QImage zoomed = view->grab().toImage();
        Q_UNUSED(zoomed);
        const auto& columns = view->columns();
        QCOMPARE(static_cast<int>(columns.size()), view->plotArea().width());
        const double width = (t1 - t0) / static_cast<double>(columns.size());
        for (std::size_t c = 0; c < columns.size(); ++c) {
            // The last column ends with the view, a sample on its end included.
            const double end = c + 1 == columns.size() ? std::floor(t1) + 1 : t0 + (c + 1) * width;
            const auto part = between(rows, t0 + c * width, end);
            QCOMPARE(columns[c].to - columns[c].from, part.size());
            for (int k = 0; k < 4 && !part.empty(); ++k) {
                const auto [lo, hi] = std::minmax_element(part.begin(), part.end(), [k](auto& a, auto& b) {
                    return a.channel[k] < b.channel[k];
                });
                QCOMPARE(recording::Recording::toValue(columns[c].channel[k].min), lo->channel[k]);
                QCOMPARE(recording::Recording::toValue(columns[c].channel[k].max), hi->channel[k]);
            }
        }

        // The gap: no curve in the columns over it.
        const double gapStart = rows[kGapFrom - 1].timeMs, gapEnd = rows[kGapFrom].timeMs;
        view->showView({gapStart - 500, gapEnd + 500, false, 0, 1});
        const QImage image = view->grab().toImage();
        const QRect area = view->plotArea();
        const int left = static_cast<int>(std::ceil(view->xOfTime(gapStart))) + 2;
        const int right = static_cast<int>(std::floor(view->xOfTime(gapEnd))) - 2;
        QVERIFY(right - left > 100);
        for (int x = left; x <= right; ++x) {
            QVERIFY(view->columns()[static_cast<std::size_t>(x - area.left())].empty());
            for (int y = area.top() + 1; y < area.bottom(); ++y)
                for (int k = 0; k < 4; ++k)
                    QVERIFY2(image.pixelColor(x, y) != view->colour(k),
                             qPrintable(QStringLiteral("curve at %1,%2").arg(x).arg(y)));
        }
        // ... but curves on both sides of it.
        auto hasCurve = [&](int x) {
            for (int y = area.top() + 1; y < area.bottom(); ++y)
                if (image.pixelColor(x, y) == view->colour(0))
                    return true;
            return false;
        };
        QVERIFY(hasCurve(area.left() + 20));
        QVERIFY(hasCurve(area.right() - 20));

        // Wheel zoom keeps the time under the cursor in place; undo goes back.
        const auto before = view->view();
        const QPointF at(area.left() + area.width() / 4.0, area.center().y());
        const double anchor = view->timeOfX(at.x());
        QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        QVERIFY(view->view().endMs - view->view().startMs < 0.6 * (before.endMs - before.startMs));
        QVERIFY(std::abs(view->timeOfX(at.x()) - anchor) < 1e-6 * (before.endMs - before.startMs) + 1e-3);
        QVERIFY(view->undo());
        QCOMPARE(view->view().startMs, before.startMs);

        // Far in: single samples as points; the cursor shows the sample under it.
        view->showView({rows[100].timeMs - 0.5, rows[120].timeMs + 0.5, false, 0, 1});
        view->grab();
        QVERIFY(view->drewPoints());
        const QPointF over(std::lround(view->xOfTime(rows[110].timeMs)), area.center().y());
        QMouseEvent move(QEvent::MouseMove, over, view->mapToGlobal(over), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        const QString cursor = w->findChild<QLabel*>(QStringLiteral("CursorValues"))->text();
        for (int k = 0; k < 4; ++k)
            QVERIFY2(cursor.contains(QString::number(rows[110].channel[k], 'f', 5)), qPrintable(cursor));

        // Box zoom: the box's times and values.
        view->showView({rows[0].timeMs, rows[1000].timeMs, false, 0, 1});
        QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, area.topLeft() + QPoint(100, 50));
        QTest::mouseMove(view, area.topLeft() + QPoint(300, 150));
        QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, area.topLeft() + QPoint(300, 150));
        QVERIFY(view->view().yFixed);
        QVERIFY(std::abs(view->view().startMs - view->timeOfX(area.left())) < 1e-6);

        // Whole run, and Copy as the statistics window copies.
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("WholeRun")), Qt::LeftButton);
        QCOMPARE(windowCells(*w), cellsOf(analysis::ComputeStatistics(rows)));
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Copy")), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), w->statisticsText());
        QVERIFY(w->statisticsText().startsWith(QStringLiteral("Number of datasets: 28500\n\tChannel 1")));
        QVERIFY(rig.dialogs.messages.isEmpty());
        w->close();
    }

    // A stretch of a long recording taken into the memory and exported.
    void takesAndExportsTheStretchInView() { takeAndExportTheStretchInView(); }

    // Pictures of the window in each language and its regional format, into
    // the folder TARVELO_RECORDING_PICTURES names (skipped without it).
    void pictures() {
        const QString folder = qEnvironmentVariable("TARVELO_RECORDING_PICTURES");
        if (folder.isEmpty())
            QSKIP("TARVELO_RECORDING_PICTURES names no folder");
        Rig rig(false);
        const QString path = rig.folder() + QStringLiteral("/run-0001.csv");
        {
            acquisition::SampleList captions;
            captions.setCaption(2, "Channel 1 (N)");
            captions.setCaption(3, "Channel 2 (mm)");
            captions.setCaption(5, "Channel 4 (\xC2\xB0" "C)");
            std::string text = files::csvHeaderLine(captions);
            acquisition::SampleRow row{};
            for (int i = 0; i < 600000; ++i) {
                const double t = i / 1000.0;
                row.timeMs = 1765290000000.0 + i + (i >= 400000 ? 20000 : 0);
                row.channel[0] = std::round((12.5 * std::sin(t / 7.0) + 0.3 * std::sin(t * 40)) * 1e5) / 1e5;
                row.channel[1] = std::round((250 + 40 * std::sin(t / 60.0)) * 1e5) / 1e5;
                row.channel[2] = 0;
                row.channel[3] = std::round((21 + t / 360.0 + (i % 5000 == 0 ? 3 : 0)) * 1e5) / 1e5;
                files::appendCsvLine(text, static_cast<uint64_t>(i) + 1, row);
            }
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(text.data(), static_cast<qint64>(text.size()));
        }
        const QLocale locales[4] = {QLocale(QLocale::German, QLocale::Germany), QLocale::c(),
                                    QLocale(QLocale::French, QLocale::France), QLocale::c()};
        for (int language = 0; language < 4; ++language) {
            QLocale::setDefault(locales[language]);
            rig.values.settings.language = language;
            rig.values.uiText.applyLanguage(language);
            auto* w = new TrecordingWindow(rig.values, rig.dialogs, nullptr);
            w->open(path);
            QTRY_VERIFY_WITH_TIMEOUT(w->recording(), 30000);
            w->resize(1000, 640);
            RecordingView* view = w->view();
            const double first = static_cast<double>(w->recording()->timeMs(0));
            for (int shot = 0; shot < 3; ++shot) {
                if (shot == 1)
                    view->showView({first + 380000, first + 440000, false, 0, 1});
                if (shot == 2)
                    view->showView({first + 1000, first + 1060, false, 0, 1});
                const QPointF over(view->plotArea().center());
                QMouseEvent move(QEvent::MouseMove, over, view->mapToGlobal(over), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(view, &move);
                QVERIFY(w->grab().save(folder + QStringLiteral("/recording-%1-%2.png")
                                                    .arg(QStringLiteral("de,en,fr,it").section(',', language, language))
                                                    .arg(shot)));
            }
            delete w;
        }
    }

    // Closing the window or pressing Cancel while it reads stops the reading
    // quietly; what is pressed after the end changes nothing.
    void cancelAndCloseWhileOpening() {
        Rig rig(false);
        const QString path = rig.folder() + QStringLiteral("/long.csv");
        {
            acquisition::SampleList captions;
            std::string text = files::csvHeaderLine(captions);
            acquisition::SampleRow row{};
            for (int i = 0; i < 300000; ++i) {
                row.timeMs = 1765290000000.0 + i;
                row.channel[0] = i % 1000;
                files::appendCsvLine(text, static_cast<uint64_t>(i) + 1, row);
            }
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(text.data(), static_cast<qint64>(text.size()));
        }
        auto* closed = new TrecordingWindow(rig.values, rig.dialogs, nullptr);
        closed->open(path);
        delete closed;  // joins the reading thread

        QPointer<TrecordingWindow> w = new TrecordingWindow(rig.values, rig.dialogs, nullptr);
        QSignalSpy finished(w.data(), &TrecordingWindow::openingFinished);
        w->open(path);
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Cancel")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        if (!finished[0][0].toBool())
            QTRY_VERIFY(w.isNull());
        else
            delete w.data();  // it had read all before the press
        QVERIFY(rig.dialogs.messages.isEmpty());
    }

    // A run that tarvelo-cli split into three files, chosen together in any
    // order, opens in one window as one run: the samples of the three files
    // one after the other, no gap at the joins. Sets that are not the
    // consecutive parts of one run get a box naming the file that does not fit.
    void opensASplitRunAsOne() {
        sim::InstrumentConfig config;
        config.recordsPerSecond = 0;
        sim::Instrument instrument(config);
        QVERIFY(instrument.start());
        Rig rig(false);
        rig.writeSettings({QStringLiteral("Language=2")});
        rig.start();
        const QString folder = rig.folder();
        QProcess cli;
        cli.start(QStringLiteral(TARVELO_CLI_BINARY),
                  {QStringLiteral("--address"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                   QString::number(instrument.commandPort()), QStringLiteral("record"),
                   QStringLiteral("--rate"), QStringLiteral("0"), QStringLiteral("--seconds"),
                   QStringLiteral("3"), QStringLiteral("--split"), QStringLiteral("1"),
                   QStringLiteral("--out"), folder + QStringLiteral("/run.csv")});
        QVERIFY(cli.waitForFinished(120000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        auto part = [&](int n) { return folder + QStringLiteral("/run-%1.csv").arg(n, 4, 10, QLatin1Char('0')); };
        std::vector<acquisition::SampleRow> rows;
        for (int n = 1; n <= 3; ++n) {
            const auto partRows = readIndependently(part(n)).rows;
            QVERIFY(!partRows.empty());
            rows.insert(rows.end(), partRows.begin(), partRows.end());
        }
        QVERIFY(!QFile::exists(part(4)));

        rig.dialogs.fileAnswers << QStringList{part(3), part(1), part(2)}.join(QLatin1Char('\n'));
        rig.window().openRecordingAction()->trigger();
        QPointer<TrecordingWindow> w = rig.window().findChild<TrecordingWindow*>();
        QVERIFY(w);
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("run-0001.csv")));
        QTRY_VERIFY_WITH_TIMEOUT(w->recording(), 30000);
        const auto& r = *w->recording();
        QCOMPARE(r.size(), rows.size());
        for (uint64_t i = 0; i < r.size(); i += 1 + i % 97) {
            QCOMPARE(static_cast<double>(r.timeMs(i)), rows[i].timeMs);
            QCOMPARE(r.value(2, i), rows[i].channel[2]);
        }
        QCOMPARE(r.gaps(), std::vector<uint64_t>{});
        QCOMPARE(windowCells(*w), cellsOf(analysis::ComputeStatistics(rows)));
        delete w.data();

        // The box is in the program's language (French here).
        QFile::copy(part(2), folder + QStringLiteral("/other-0002.csv"));
        const struct {
            QStringList files;
            QString reason;
        } wrongSets[] = {
            {{part(3), part(1)}, QString::fromUtf8("run-0002.csv manque")},
            {{part(1), folder + QStringLiteral("/other-0002.csv")},
             QString::fromUtf8("other-0002.csv appartient \u00e0 un autre enregistrement que run-0001.csv.")},
            {{part(2), part(1), part(2)},
             QString::fromUtf8("run-0002.csv et run-0002.csv sont la m\u00eame partie")},
        };
        for (const auto& wrong : wrongSets) {
            rig.dialogs.messages.clear();
            QPointer<TrecordingWindow> refused = rig.window().openRecording(wrong.files);
            QTRY_VERIFY(refused.isNull());
            QCOMPARE(rig.dialogs.messages.size(), 1);
            QVERIFY2(rig.dialogs.messages[0].text.startsWith(
                         QString::fromUtf8("L\u2019enregistrement n\u2019a pas pu \u00eatre ouvert.\n") +
                         wrong.reason),
                     qPrintable(rig.dialogs.messages[0].text));
        }
    }

    // A file that is no recording: a box with the reason, no window stays.
    void refusesWhatIsNoRecording() {
        Rig rig(false);
        rig.writeSettings({QStringLiteral("Language=0")});
        rig.start();
        const QString path = rig.folder() + QStringLiteral("/notes.csv");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Number,Time,A,B,C,D\r\n1,2026-01-01T00:00:00.000,1,2,x,4\r\n");
        file.close();
        QPointer<TrecordingWindow> w = rig.window().openRecording(path);
        QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.messages.size(), 1, 10000);
        QVERIFY(rig.dialogs.messages[0].text.startsWith(
            QString::fromUtf8("Die Aufzeichnung konnte nicht geöffnet werden.\nnotes.csv: line 2: channel 3")));
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
