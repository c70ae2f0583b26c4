// The graph printout, printed into PDF files and read back with pdftotext:
// the texts, their order and their positions on the page.

#include <cmath>
#include <functional>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtCharts/QValueAxis>

#include "analysis/mgrafik.h"
#include "analysis/print_layout.h"
#include "support.h"

using tarvelo::acquisition::SampleRow;
using tarvelo::gui::TgraphView;
using tarvelo::guitest::Rig;

namespace {

SampleRow row(double c1, double c2, double c3, double c4) {
    SampleRow r{};
    r.channel[0] = c1;
    r.channel[1] = c2;
    r.channel[2] = c3;
    r.channel[3] = c4;
    return r;
}

// A run of words on one line with no gap wider than a space between them, in
// points.
struct Run {
    QString text;
    double xMin, yMin, xMax, yMax;
};

// pdftotext -bbox: the words of the first page, grouped into runs.
QList<Run> runsOf(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return {};
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    QList<Run> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString text = m.captured(5);
        text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        // Ligatures the page's font formed come back as one character.
        text.replace(QChar(0xFB01), QStringLiteral("fi"))
            .replace(QChar(0xFB02), QStringLiteral("fl"));
        words.append({text, m.captured(1).toDouble(), m.captured(2).toDouble(),
                      m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    std::stable_sort(words.begin(), words.end(), [](const Run& a, const Run& b) {
        return std::abs(a.yMin - b.yMin) > 0.5 ? a.yMin < b.yMin : a.xMin < b.xMin;
    });
    QList<Run> runs;
    for (const Run& w : words) {
        if (!runs.isEmpty() && std::abs(runs.last().yMin - w.yMin) < 0.5 &&
            w.xMin - runs.last().xMax < 0.5 * (w.yMax - w.yMin)) {
            runs.last().text += QLatin1Char(' ') + w.text;
            runs.last().xMax = w.xMax;
        } else {
            runs.append(w);
        }
    }
    return runs;
}

int pageCount(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    p.waitForFinished(30000);
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                       .match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Where the printout's device units lie on the PDF page, in points.
struct PageScale {
    double left, top, perUnitX, perUnitY;
    double x(int64_t units) const { return left + units * perUnitX; }
    double y(int64_t units) const { return top + units * perUnitY; }
};

PageScale scaleOf(QPrinter& printer) {
    const QRectF area = printer.pageLayout().paintRect(QPageLayout::Point);
    return {area.left(), area.top(), 72.0 / printer.logicalDpiX(), 72.0 / printer.logicalDpiY()};
}

const Run* find(const QList<Run>& runs, const QString& text) {
    for (const Run& r : runs) {
        if (r.text == text)
            return &r;
    }
    return nullptr;
}

// The run whose top is at y and whose left (or right) edge is at x.
const Run* at(const QList<Run>& runs, double y, double x, bool right) {
    for (const Run& r : runs) {
        if (std::abs(r.yMin - y) < 1.0 && std::abs((right ? r.xMax : r.xMin) - x) < 1.0)
            return &r;
    }
    return nullptr;
}

// Answers the printer setup as the user would: a PDF file, confirmed.
void printToFile(TgraphView& g, const QString& path) {
    g.setPrinterSetup([path](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        return true;
    });
}

// Runs `inside` on the print dialog once it is open.
void onPrintDialog(const std::function<void(QPrintDialog&)>& inside) {
    QTimer::singleShot(0, [inside] {
        QPrintDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())));
        inside(*dialog);
    });
}

void startRig(Rig& rig, const QStringList& settings = {}) {
    rig.writeSettings(settings);
    rig.startReady();
}

}  // namespace

class TestPrint : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void pageWithChartAndStatistics();
    void printDialogChoosesThePdfFile();
    void nothingIsWrittenToAnUnconfirmedFile();
    void frenchYLabelsWholeAndGrouped();

private:
    QTemporaryDir home_;
};

void TestPrint::initTestCase() {
    // The print dialog and the proposed file name live in the home folder.
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toLocal8Bit());
}

void TestPrint::pageWithChartAndStatistics() {
    Rig rig;
    startRig(rig, {QStringLiteral("Language=0")});  // German: the page stays English
    const double c1[] = {100, 200, 300}, c2[] = {1, 2, 3}, c4[] = {-5, 0, 5};
    for (int i = 0; i < 3; ++i)
        rig.values.memory.AppendSample(row(c1[i], c2[i], 7, c4[i]));
    rig.window().GrafikClick();
    TgraphView& g = *rig.windows.graph;
    QVERIFY(g.isVisible());
    g.channelBox(3)->setChecked(false);  // not drawn, yet in the statistics
    // A zoomed X axis is printed as it is shown.
    g.minx()->setText(QStringLiteral("0.5"));
    g.maxx()->setText(QStringLiteral("1.5"));
    QTest::mouseClick(g.doScale(), Qt::LeftButton);
    QCOMPARE(g.axisX()->min(), 0.5);

    const QString pdf = home_.filePath(QStringLiteral("page.pdf"));
    printToFile(g, pdf);
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    QVERIFY(rig.dialogs.messages.isEmpty());
    QCOMPARE(pageCount(pdf), 1);
    QCOMPARE(g.printer().pageLayout().orientation(), QPageLayout::Portrait);

    const QList<Run> runs = runsOf(pdf);
    QVERIFY(!runs.isEmpty());
    QPrinter& printer = g.printer();
    const PageScale s = scaleOf(printer);
    const auto layout = tarvelo::analysis::computePrintLayout(
        printer.width(), printer.logicalDpiX(), printer.logicalDpiY());

    // The header: right edge at 200 mm, top at 10 mm, twice as high.
    const Run* header = find(runs, QStringLiteral("KORVANTE GMBH & CO KG"));
    QVERIFY(header);
    QVERIFY(std::abs(header->xMax - s.x(layout.headerRight)) < 1.0);
    QVERIFY(std::abs(header->yMin - s.y(layout.headerTop)) < 1.0);
    const Run* count = find(runs, QStringLiteral("Number of datasets: 3"));
    QVERIFY(count);
    const double height = count->yMax - count->yMin;
    QVERIFY(std::abs((header->yMax - header->yMin) / height - 2.0) < 0.1);

    // The chart in its band: title and legend of the drawn channels only.
    const Run* title = find(runs, QString::fromStdString(rig.values.uiText[36]));
    QVERIFY(title);
    QVERIFY(title->yMin > s.y(layout.chart.top) && title->yMax < s.y(layout.chart.bottom));
    auto caption = [&](int k) {
        return QString::fromStdString(rig.window().sampleList().channelCaption(k));
    };
    int legend2 = 0, legend3 = 0;
    for (const Run& r : runs) {
        if (r.yMin < s.y(layout.chart.bottom)) {
            legend2 += r.text == caption(2);
            legend3 += r.text == caption(3);
        }
    }
    QCOMPARE(legend2, 1);
    QCOMPARE(legend3, 0);
    // The zoomed X axis: labels at 0.6 .. 1.4, none at 2 or beyond.
    QVERIFY(find(runs, QStringLiteral("1.4")));
    QVERIFY(find(runs, QStringLiteral("0.6")));
    QVERIFY(!find(runs, QStringLiteral("1.6")));

    // The block below the chart, at its positions.
    QVERIFY(std::abs(count->yMin - s.y(layout.countTop)) < 1.0);
    QVERIFY(std::abs(count->xMin - s.x(layout.leftX)) < 1.0);
    for (int k = 1; k <= 4; ++k) {
        const Run* heading = at(runs, s.y(layout.headingTop), s.x(layout.columnRight[k - 1]), true);
        QVERIFY2(heading, qPrintable(caption(k)));
        QCOMPARE(heading->text, caption(k));
    }
    const char* headings[] = {
        "Minimum value:", "Maximum value:", "Average value:", "Standard deviation:"};
    const QStringList values[] = {
        {"100.00000", "1.00000", "7.00000", "-5.00000"},
        {"300.00000", "3.00000", "7.00000", "5.00000"},
        {"200.00000", "2.00000", "7.00000", "0.00000"},
        {"100.00000", "1.00000", "0.00000", "5.00000"},
    };
    double previousTop = count->yMin;
    for (int r = 0; r < 4; ++r) {
        const double top = s.y(layout.rowTop[r]);
        const Run* heading = at(runs, top, s.x(layout.leftX), false);
        QVERIFY(heading);
        QCOMPARE(heading->text, QString::fromLatin1(headings[r]));
        QVERIFY(heading->yMin > previousTop);
        previousTop = heading->yMin;
        for (int k = 0; k < 4; ++k) {
            const Run* cell = at(runs, top, s.x(layout.columnRight[k]), true);
            QVERIFY2(cell, qPrintable(values[r][k]));
            QCOMPARE(cell->text, values[r][k]);
        }
    }

    // In reading order: header, chart, count, headings, the four rows.
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(30000));
    const QString plain = QString::fromUtf8(text.readAllStandardOutput())
                              .replace(QChar(0xFB01), QStringLiteral("fi"))
                              .replace(QChar(0xFB02), QStringLiteral("fl"));
    qsizetype last = -1;
    for (const QString& piece :
         {QStringLiteral("KORVANTE"), title->text, QStringLiteral("Number of datasets"), caption(4),
          QStringLiteral("Minimum value:"), QStringLiteral("Maximum value:"),
          QStringLiteral("Average value:"), QStringLiteral("Standard deviation:")}) {
        const qsizetype at = plain.indexOf(piece, last + 1);
        QVERIFY2(at > last, qPrintable(piece));
        last = at;
    }

    // The window is as it was.
    QCOMPARE(g.axisX()->min(), 0.5);
    QVERIFY(g.isVisible());
}

void TestPrint::frenchYLabelsWholeAndGrouped() {
    // Values in a narrow band above 1000, as while sampling: Auto-Refresh
    // gives a fine label step, whose long labels must be printed whole, with
    // the French separators.
    tarvelo::guitest::ScopedFormat french(QLocale(QLocale::French, QLocale::France));
    Rig rig;
    startRig(rig, {QStringLiteral("Language=2")});
    for (int i = 0; i < 200; ++i)
        rig.values.memory.AppendSample(row(1000.2 + 0.004 * i, 1000.3, 1000.5, 1001));
    rig.window().GrafikClick();
    TgraphView& g = *rig.windows.graph;
    g.RefreshSeries();
    const QStringList labels = g.yAxisLabels();
    QVERIFY(labels.size() > 5);
    QVERIFY2(labels.contains(QStringLiteral("1\u202f000,5")), qPrintable(labels.join(' ')));

    const QString pdf = home_.filePath(QStringLiteral("french.pdf"));
    printToFile(g, pdf);
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    french.restore();
    QStringList printed;
    for (const Run& r : runsOf(pdf))
        printed << r.text;
    QVERIFY(!printed.filter(QStringLiteral("...")).size());
    // pdftotext splits words at the narrow no-break space.
    for (QString label : labels) {
        label.replace(QChar(0x202F), QLatin1Char(' '));
        QVERIFY2(printed.contains(label), qPrintable(label + " | " + printed.join(" | ")));
    }
}

void TestPrint::printDialogChoosesThePdfFile() {
    Rig rig;
    startRig(rig);
    for (int i = 0; i < 40; ++i)
        rig.values.memory.AppendSample(row(i, i * i, -i, 3));
    rig.window().GrafikClick();
    TgraphView& g = *rig.windows.graph;

    // On this machine there is no printer: the dialog offers the PDF file.
    const QString pdf = home_.filePath(QStringLiteral("chosen.pdf"));
    bool seen = false;
    onPrintDialog([&](QPrintDialog& dialog) {
        auto* printers = dialog.findChild<QComboBox*>(QStringLiteral("printers"));
        QVERIFY(printers);
        QVERIFY(printers->currentText().contains(QStringLiteral("PDF")));
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("filename"));
        QVERIFY(name);
        // A file in the documents folder is proposed.
        QVERIFY(name->text().endsWith(QStringLiteral("graph.pdf")));
        name->setText(pdf);
        auto* buttons = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(buttons);
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        seen = true;
    });
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(rig.dialogs.messages.isEmpty());
    QCOMPARE(pageCount(pdf), 1);
    QVERIFY(find(runsOf(pdf), QStringLiteral("Number of datasets: 40")));

    // Cancelled next time: printed all the same, with the earlier settings.
    rig.values.memory.AppendSample(row(1, 1, 1, 1));
    QVERIFY(QFile::remove(pdf));
    seen = false;
    onPrintDialog([&](QPrintDialog& dialog) {
        dialog.reject();
        seen = true;
    });
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(pageCount(pdf), 1);
    QVERIFY(find(runsOf(pdf), QStringLiteral("Number of datasets: 41")));
}

void TestPrint::nothingIsWrittenToAnUnconfirmedFile() {
    Rig rig;
    startRig(rig);
    rig.values.memory.AppendSample(row(1, 2, 3, 4));
    rig.window().GrafikClick();
    TgraphView& g = *rig.windows.graph;

    // The dialog cancelled before any file was ever confirmed: no page, and
    // no file appears where the dialog proposed one.
    QString proposed;
    onPrintDialog([&](QPrintDialog& dialog) {
        proposed = dialog.findChild<QLineEdit*>(QStringLiteral("filename"))->text();
        dialog.reject();
    });
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    QVERIFY(!proposed.isEmpty());
    QVERIFY(!QFile::exists(proposed));
    QVERIFY(rig.dialogs.messages.isEmpty());

    // A cleared memory prints the count 0 and leaves the value cells empty.
    rig.values.memory.clear();
    const QString pdf = home_.filePath(QStringLiteral("empty.pdf"));
    printToFile(g, pdf);
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    const QList<Run> runs = runsOf(pdf);
    const Run* count = find(runs, QStringLiteral("Number of datasets: 0"));
    QVERIFY(count);
    QVERIFY(find(runs, QStringLiteral("Standard deviation:")));
    const QRegularExpression number(QStringLiteral("^-?[\\d.,]+$"));
    for (const Run& r : runs)
        QVERIFY2(r.yMin < count->yMin + 1 || !number.match(r.text).hasMatch(), qPrintable(r.text));

    // A file that cannot be written is reported.
    printToFile(g, home_.path());  // a folder
    QTest::mouseClick(g.fPrint(), Qt::LeftButton);
    QCOMPARE(rig.dialogs.messages.size(), 1);
    QCOMPARE(rig.dialogs.messages[0].icon, QMessageBox::Critical);
}

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
