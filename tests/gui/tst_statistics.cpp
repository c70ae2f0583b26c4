// The statistics window, opened from the main window over the memory.

#include <functional>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "analysis/mstatistic.h"
#include "analysis/statistics.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::acquisition::SampleRow;
using tarvelo::gui::ThauptFenster;
using tarvelo::gui::TstatWindow;
using tarvelo::guitest::Rig;

using tarvelo::test::makeRow;

namespace {

// The start-up sequence empties the memory: rows go in after it.
void startRig(Rig& rig) {
    rig.writeSettings();
    rig.startReady();
}

// Opens the window with the main window's button and runs `inside` while it
// is shown; returns whether it was shown.
bool withStatistics(Rig& rig, const std::function<void(TstatWindow&)>& inside) {
    TstatWindow& w = *rig.windows.stat;
    bool shown = false;
    // The timers belong to `guard`, so that none of them fires after this
    // function has returned (the window is not opened for an empty memory).
    QObject guard;
    QTimer::singleShot(5000, &guard, [&w] { w.reject(); });
    QTimer::singleShot(0, &guard, [&] {
        if (!w.isVisible())
            return;
        shown = true;
        inside(w);
        QTest::mouseClick(w.okButton(), Qt::LeftButton);
    });
    QTest::mouseClick(rig.window().button(ThauptFenster::Button::statistic), Qt::LeftButton);
    return shown;
}

QStringList column(TstatWindow& w, int channel) {
    QStringList cells;
    for (int r = 0; r < 4; ++r)
        cells << w.cell(r, channel)->text();
    return cells;
}

}  // namespace

class TestStatistics : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void oneTwoThree();
    void equalValuesAndStartingBounds();
    void wrappedMemoryCountsTheWholeRing();
    void singleRowAndEmptyMemory();
    void languageAndDecimalComma();
};

void TestStatistics::oneTwoThree() {
    Rig rig;
    startRig(rig);
    for (double v : {1.0, 2.0, 3.0})
        rig.values.memory.AppendSample(makeRow(v, 10 * v, -v, 0.5));
    const bool shown = withStatistics(rig, [&](TstatWindow& w) {
        QVERIFY(w.isModal());
        QCOMPARE(w.windowTitle(), QStringLiteral("Statistics"));
        QCOMPARE(w.numDataSets()->text(), QStringLiteral("Number of datasets: 3"));
        QCOMPARE(column(w, 1), (QStringList{"1.00000", "3.00000", "2.00000", "1.00000"}));
        QCOMPARE(column(w, 2), (QStringList{"10.00000", "30.00000", "20.00000", "10.00000"}));
        QCOMPARE(column(w, 3), (QStringList{"-3.00000", "-1.00000", "-2.00000", "1.00000"}));
        // A table: a column per channel under its heading, left to right, a
        // row per value beside its heading, top to bottom, the numbers
        // aligned on the right. Cut or overlapping texts are the layout
        // test's business.
        for (int k = 1; k <= 4; ++k) {
            // The captions of the sample list, units included.
            QCOMPARE(w.columnHeading(k)->text(),
                     QString::fromStdString(rig.window().sampleList().channelCaption(k)));
            QVERIFY(w.columnHeading(k)->y() > w.numDataSets()->geometry().bottom());
            for (int r = 0; r < 4; ++r) {
                QLabel* cell = w.cell(r, k);
                QVERIFY(cell->y() > w.columnHeading(k)->geometry().bottom());
                QVERIFY(cell->x() > w.rowHeading(r)->geometry().right());
                QCOMPARE(cell->y(), w.cell(r, 1)->y());
                QCOMPARE(cell->x() + cell->width(), w.cell(0, k)->x() + w.cell(0, k)->width());
                if (r > 0)
                    QVERIFY(cell->y() > w.cell(r - 1, k)->geometry().bottom());
                if (k > 1)
                    QVERIFY(cell->x() > w.cell(r, k - 1)->geometry().right());
                QVERIFY(cell->alignment() & Qt::AlignRight);
            }
        }
        QCOMPARE(w.columnHeading(1)->text(), QStringLiteral("Channel 1 (N)"));
        QCOMPARE(w.columnHeading(3)->text(), QStringLiteral("Channel 3 (N.C.)"));
        QCOMPARE(w.rowHeading(0)->text(), QStringLiteral("Minimum value:"));
        QCOMPARE(w.rowHeading(3)->text(), QStringLiteral("Standard deviation:"));
        QVERIFY(w.okButton()->isDefault());
        QVERIFY(w.okButton()->y() > w.cell(3, 1)->geometry().bottom());
    });
    QVERIFY(shown);
    QVERIFY(!rig.windows.stat->isVisible());

    // A snapshot: later samples show at the next opening only.
    rig.values.memory.AppendSample(makeRow(4));
    QCOMPARE(rig.windows.stat->results().count, 3);
    QVERIFY(withStatistics(rig, [](TstatWindow& w) {
        QCOMPARE(w.numDataSets()->text(), QStringLiteral("Number of datasets: 4"));
        QCOMPARE(w.cell(1, 1)->text(), QStringLiteral("4.00000"));
    }));
}

void TestStatistics::equalValuesAndStartingBounds() {
    Rig rig;
    startRig(rig);
    // Channel 1 equal values; channel 2 all below the starting maximum,
    // channel 3 all above the starting minimum.
    for (int i = 0; i < 50; ++i)
        rig.values.memory.AppendSample(makeRow(0.1, -1e15 - i * 1e3, 1e15 + i * 1e3, i));
    QVERIFY(withStatistics(rig, [](TstatWindow& w) {
        QCOMPARE(column(w, 1), (QStringList{"0.10000", "0.10000", "0.10000", "0.00000"}));
        const QString startMax = QString::asprintf("%.5f", tarvelo::analysis::kStartMaximum);
        const QString startMin = QString::asprintf("%.5f", tarvelo::analysis::kStartMinimum);
        QVERIFY(startMax.startsWith(QStringLiteral("-99999999999999.9")));
        QCOMPARE(w.cell(0, 2)->text(), QStringLiteral("-1000000000049000.00000"));
        QCOMPARE(w.cell(1, 2)->text(), startMax);
        QCOMPARE(w.cell(0, 3)->text(), startMin);
        QCOMPARE(w.cell(1, 3)->text(), QStringLiteral("1000000000049000.00000"));
        // Wide figures stay whole and move their column right instead of
        // running into the row headings or the column before.
        for (int r = 0; r < 4; ++r) {
            int previousRight = w.rowHeading(r)->geometry().right();
            for (int k = 1; k <= 4; ++k) {
                QLabel* cell = w.cell(r, k);
                QVERIFY(cell->width() >= cell->fontMetrics().horizontalAdvance(cell->text()));
                if (!cell->text().isEmpty())
                    QVERIFY(cell->x() > previousRight);
                previousRight = cell->geometry().right();
            }
        }
        QVERIFY(w.columnHeading(2)->x() > 280);
        // 0..49: sample deviation sqrt(50 * 51 / 12) with divisor n - 1.
        QCOMPARE(w.cell(3, 4)->text(), QStringLiteral("14.57738"));
    }));
}

void TestStatistics::wrappedMemoryCountsTheWholeRing() {
    Rig rig;
    startRig(rig);
    for (int i = 0; i < 10240 + 100; ++i)
        rig.values.memory.AppendSample(makeRow(i, 1));
    QCOMPARE(rig.values.memory.WritePosition(), 100);
    QVERIFY(withStatistics(rig, [](TstatWindow& w) {
        QCOMPARE(w.numDataSets()->text(), QStringLiteral("Number of datasets: 10240"));
        // The overwritten rows 0..99 are gone; 100..10339 remain.
        QCOMPARE(w.cell(0, 1)->text(), QStringLiteral("100.00000"));
        QCOMPARE(w.cell(1, 1)->text(), QStringLiteral("10339.00000"));
        QCOMPARE(w.cell(2, 1)->text(), QStringLiteral("5219.50000"));
        QCOMPARE(w.cell(3, 2)->text(), QStringLiteral("0.00000"));
    }));
}

void TestStatistics::singleRowAndEmptyMemory() {
    Rig rig;
    startRig(rig);
    // Empty: the main window does not open the window.
    QVERIFY(!withStatistics(rig, [](TstatWindow&) {}));

    rig.values.memory.AppendSample(makeRow(2.5, -1));
    QVERIFY(withStatistics(rig, [](TstatWindow& w) {
        QCOMPARE(w.numDataSets()->text(), QStringLiteral("Number of datasets: 1"));
        // The deviation of one data set is undefined: an empty cell.
        QCOMPARE(column(w, 1), (QStringList{"2.50000", "2.50000", "2.50000", ""}));
        QCOMPARE(w.cell(3, 2)->text(), QString());
    }));

    // Cleared while the window is closed: a direct run shows empty cells,
    // not the starting bounds.
    rig.values.memory.clear();
    TstatWindow& w = *rig.windows.stat;
    w.FormShow();
    QCOMPARE(w.numDataSets()->text(), QStringLiteral("Number of datasets: 0"));
    for (int k = 1; k <= 4; ++k)
        QCOMPARE(column(w, k), (QStringList{"", "", "", ""}));
}

void TestStatistics::languageAndDecimalComma() {
    Rig rig;
    rig.writeSettings({QStringLiteral("Language=2")});
    rig.startReady();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (double v : {1.25, 2.5})
        rig.values.memory.AppendSample(makeRow(v));
    QVERIFY(withStatistics(rig, [&](TstatWindow& w) {
        QCOMPARE(w.windowTitle(), QString::fromStdString(rig.values.uiText[20]));
        QCOMPARE(w.numDataSets()->text(), QString::fromStdString(rig.values.uiText[42])
                                              .replace(QStringLiteral("%d"), QStringLiteral("2")));
        QVERIFY(!w.numDataSets()->text().startsWith(QStringLiteral("Number")));
        QCOMPARE(w.rowHeading(1)->text(), QString::fromStdString(rig.values.uiText[44]));
        QCOMPARE(w.cell(2, 1)->text(), QStringLiteral("1,87500"));
        QCOMPARE(w.columnHeading(1)->text(),
                 QString::fromStdString(rig.window().sampleList().channelCaption(1)));

        // "Copier" and Ctrl+C: the table as shown, tab-separated, one line
        // per line of the window.
        QCOMPARE(w.copyButton()->text(), QStringLiteral("Copier"));
        QString expected = w.numDataSets()->text() + QLatin1Char('\n');
        for (int k = 1; k <= 4; ++k)
            expected += QLatin1Char('\t') + w.columnHeading(k)->text();
        expected += QLatin1Char('\n');
        for (int r = 0; r < 4; ++r) {
            expected += w.rowHeading(r)->text();
            for (int k = 1; k <= 4; ++k)
                expected += QLatin1Char('\t') + w.cell(r, k)->text();
            expected += QLatin1Char('\n');
        }
        QVERIFY(expected.contains(QStringLiteral("\t1,87500\t")));
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(w.copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QGuiApplication::clipboard()->clear();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QVERIFY(w.isVisible());
    }));
}

QTEST_MAIN(TestStatistics)
#include "tst_statistics.moc"
