// Every window shows every text whole, in each language and regional format:
// one walker checks each visible control's needed size against the room it
// was given, neighbours against overlap, and the chart's texts against what
// the axes and the legend show. With TARVELO_GALLERY set to a folder, the
// walk also writes a picture of every window there (scripts/gallery.sh).

#include <cmath>
#include <functional>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>

#include "acquisition/mgauge.h"
#include "acquisition/samplelistmodel.h"
#include "acquisition/mmesswerte.h"
#include "analysis/chartview.h"
#include "analysis/mgrafik.h"
#include "analysis/mlinecolor.h"
#include "analysis/mstatistic.h"
#include "app/shown_text.h"
#include "files/mexport.h"
#include "fixtures.h"
#include "support.h"

using tarvelo::app::ProgramText;
using tarvelo::gui::shownText;
using tarvelo::guitest::Rig;

namespace {

// Real-looking data filling the whole memory: a narrow band around 1000
// (channel 1), a wide swing with negative values (channel 2), a channel
// that is not connected and a slowly drifting temperature.
void fillMemory(Rig& rig) {
    std::vector<tarvelo::acquisition::SampleRow> rows;
    const int count = tarvelo::acquisition::kMemoryCapacity;
    for (int i = 0; i < count; ++i) {
        const double t = i / 50.0;
        rows.push_back(tarvelo::test::makeRow(
            1000.25 + 0.375 * std::sin(t), -2500.125 + 98765.4321 * std::sin(t / 7), 0,
            21.5 + 0.25 * std::cos(t / 3), 1700000000000.0 + 10.0 * i));
    }
    rig.values.memory.load(rows);
    rig.window().listModel()->refill(rig.values.memory);
}

bool carriesPicture(const QLabel* label) {
    return !label->pixmap().isNull();
}

// The controls whose places the walk compares for overlap.
bool takesRoom(const QWidget* w) {
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return !carriesPicture(label) && !label->text().isEmpty();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QProgressBar*>(w) || qobject_cast<const QAbstractItemView*>(w);
}

int widestLine(const QFontMetrics& metrics, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// What of one control's text is cut: empty when all of it shows.
QString cutText(const QWidget* w) {
    const QRect room = w->contentsRect();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (carriesPicture(label) || label->text().isEmpty())
            return {};
        const QFontMetrics fm = label->fontMetrics();
        if (label->wordWrap()) {
            for (const QString& word : label->text().split(QLatin1Char(' ')))
                if (fm.horizontalAdvance(word) > room.width())
                    return word;
            return label->heightForWidth(w->width()) > w->height() ? label->text() : QString();
        }
        const int lines = static_cast<int>(label->text().count(QLatin1Char('\n'))) + 1;
        if (widestLine(fm, label->text()) > room.width() - 2 * label->margin() ||
            lines * fm.height() > room.height() + 2)
            return label->text();
        return {};
    }
    if (const auto* push = qobject_cast<const QPushButton*>(w)) {
        // The style's minimum button width is no need of the text's.
        const int margin = 2 * push->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, push);
        QString text = push->text();
        text.remove(QLatin1Char('&'));
        if (push->fontMetrics().horizontalAdvance(text) + margin > w->width())
            return push->text();
        return {};
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return {};
        if (button->sizeHint().width() > w->width() || button->fontMetrics().height() > w->height())
            return button->text();
        return {};
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
        const int needed = group->fontMetrics().horizontalAdvance(group->title()) + 16;
        return needed > w->width() ? group->title() : QString();
    }
    if (const auto* header = qobject_cast<const QHeaderView*>(w)) {
        const int margin =
            2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int i = 0; i < header->count(); ++i) {
            const QString caption =
                header->model()->headerData(i, header->orientation()).toString();
            if (!header->isSectionHidden(i) && !caption.isEmpty() &&
                header->fontMetrics().horizontalAdvance(caption) + margin > header->sectionSize(i))
                return caption;
        }
    }
    return {};
}

// Spaces compared as spaces: the chart shows no-break ones as plain.
QString plain(QString s) {
    return s.replace(QChar(0x202F), QLatin1Char(' ')).replace(QChar(0xA0), QLatin1Char(' '));
}

// The chart's texts as shown: axis labels, title, legend.
QStringList chartTexts(QChart* chart) {
    QStringList shown;
    for (QGraphicsItem* item : chart->scene()->items()) {
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible())
            shown << plain(text->toPlainText());
    }
    return shown;
}

// The chart's texts that the chart shortened, and Y labels it does not show.
QStringList shortenedChartTexts(QChart* chart, const QStringList& yLabels) {
    const QStringList shown = chartTexts(chart);
    QStringList shortened;
    for (const QString& s : shown)
        if (s.endsWith(QLatin1String("...")) || s.endsWith(QChar(0x2026)))
            shortened << s;
    for (const QString& label : yLabels)
        if (!shown.contains(plain(label)))
            shortened << QStringLiteral("Y label %1 not shown").arg(label);
    return shortened;
}

// Every fault of one window: cut texts and overlapping neighbours.
QStringList faultsOf(const QString& name, QWidget* window) {
    QStringList faults;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (!w->isVisible() || (w != window && w->window() != window))
            continue;
        const QString cut = cutText(w);
        if (!cut.isEmpty())
            faults << QStringLiteral("%1/%2 cut: \"%3\" in %4x%5")
                          .arg(name, w->objectName(), cut)
                          .arg(w->width())
                          .arg(w->height());
        if (w == window || !takesRoom(w))
            continue;
        const bool text = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                          qobject_cast<QGroupBox*>(w);
        if (text && !w->parentWidget()->rect().contains(w->geometry()) &&
            w->parentWidget()->rect().intersects(w->geometry()) &&
            !qobject_cast<QAbstractScrollArea*>(w->parentWidget()->parentWidget()))
            faults
                << QStringLiteral("%1/%2 runs past its window's edge").arg(name, w->objectName());
        for (QWidget* other :
             w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other <= w || !other->isVisible() || !takesRoom(other))
                continue;
            if (w->geometry().intersects(other->geometry()))
                faults << QStringLiteral("%1/%2 overlaps %3")
                              .arg(name, w->objectName(), other->objectName());
        }
    }
    return faults;
}

}  // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyWindowWhole_data();
    void everyWindowWhole();
    void longUnitKeepsChannelName();
    void autoRefreshKeepsYLabelsWhole();

private:
    // Shows one window (prepare), checks it and hides it again (finish).
    void check(const QString& name, QWidget* window, const std::function<void()>& finish);
    void setLanguage(int language);

    std::unique_ptr<Rig> rig_;
    QStringList faults_;
    QString gallery_;
    QString round_;
};

void TestLayout::initTestCase() {
    gallery_ = qEnvironmentVariable("TARVELO_GALLERY");
    if (!gallery_.isEmpty())
        QDir().mkpath(gallery_);
    tarvelo::sim::InstrumentConfig config;
    config.units = {"kN", "mm", "",
                    "\xB0"
                    "C"};
    rig_ = std::make_unique<Rig>(true, config);
    rig_->writeSettings();
    rig_->startReady();
    fillMemory(*rig_);
}

void TestLayout::cleanupTestCase() {
    rig_.reset();
    QLocale::setDefault(QLocale::c());
}

void TestLayout::everyWindowWhole_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("format");
    const char* languages[] = {"de", "en", "fr", "it"};
    for (int language = 0; language < 4; ++language)
        for (const char* format : {"C", "de_DE", "fr_FR"})
            QTest::addRow("%s %s", languages[language], format)
                << language << QString::fromLatin1(format);
}

void TestLayout::setLanguage(int language) {
    Rig& rig = *rig_;
    rig.values.settings.language = language;
    rig.window().ApplyLanguage();
    // As after the first contact: the channel captions carry their units.
    tarvelo::acquisition::SampleList& list = rig.window().sampleList();
    const char* units[] = {" (kN)", " (mm)", " (N.C.)", " (\u00b0C)"};
    for (int k = 1; k <= 4; ++k)
        list.setCaption(k + 1, list.channelCaption(k) + units[k - 1]);
    rig.window().listModel()->captionsChanged();
    rig.windows.graph->ApplyLanguage();
}

void TestLayout::check(const QString& name, QWidget* window, const std::function<void()>& finish) {
    QVERIFY2(QTest::qWaitForWindowExposed(window), qPrintable(name));
    QCoreApplication::processEvents();
    faults_ << faultsOf(name, window);
    if (!gallery_.isEmpty())
        window->grab().save(QDir(gallery_).filePath(round_ + QLatin1Char('-') + name + ".png"));
    if (finish)
        finish();
}

void TestLayout::everyWindowWhole() {
    QFETCH(int, language);
    QFETCH(QString, format);
    QLocale::setDefault(format == QLatin1String("C") ? QLocale::c() : QLocale(format));
    round_ =
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    setLanguage(language);
    faults_.clear();
    Rig& rig = *rig_;
    tarvelo::gui::ProgramWindows& w = rig.windows;
    rig.window().listModel()->refill(rig.values.memory);

    check(QStringLiteral("main"), &rig.window(), {});
    for (QWidget* dialog : std::initializer_list<QWidget*>{w.config, w.initConnection, w.about,
                                                           w.exportForm, w.lineColor, w.stat}) {
        dialog->show();
        check(dialog->objectName(), dialog, [dialog] { dialog->hide(); });
    }
    w.gauge->start(100, language);
    w.gauge->setPosition(40);
    check(QStringLiteral("gauge"), w.gauge, [&w] { w.gauge->finish(); });

    // The graph as Auto-Refresh leaves it: all channels (a wide range), then
    // only the narrow band, whose label step is fine.
    w.graph->showGraph();
    QVERIFY(QTest::qWaitForWindowExposed(w.graph));
    for (int channels : {4, 1}) {
        for (int k = 2; k <= 4; ++k)
            w.graph->channelBox(k)->setChecked(k <= channels);
        w.graph->RefreshSeries();
        QCoreApplication::processEvents();
        if (channels == 4) {
            // The live values as the refresh fed them.
            w.graph->largeValues()->setChecked(true);
            check(w.live->objectName(), w.live,
                  [&w] { w.graph->largeValues()->setChecked(false); });
        }
        const QString name = QStringLiteral("graph%1").arg(channels);
        check(name, w.graph, {});
        for (const QString& s : shortenedChartTexts(w.graph->chart(), w.graph->yAxisLabels()))
            faults_ << name + QStringLiteral(" chart: ") + s;
        // X labels with the format's decimal separator.
        // Auto-Refresh would set the range back as soon as its timer fires
        // (sooner or later, by the machine's speed): it waits meanwhile.
        const bool refreshing = w.graph->timer2()->isActive();
        w.graph->timer2()->stop();
        w.graph->axisX()->setRange(0.5, 1.5);
        QCoreApplication::processEvents();
        const bool labelShown = chartTexts(w.graph->chart()).contains(QLocale().toString(1.4));
        if (refreshing)
            w.graph->timer2()->start();
        if (!labelShown)
            faults_ << name + QStringLiteral(" chart: no X label ") + QLocale().toString(1.4);
        // Thousands grouped with the format's own separator.
        const QString group = QLocale().groupSeparator();
        for (const QString& label : w.graph->yAxisLabels()) {
            if (label.startsWith(QLatin1String("1")) && label.size() > 4 &&
                label.mid(1, group.size()) != group && !label.contains(QLocale().decimalPoint()))
                faults_ << name + QStringLiteral(" Y label without grouping: ") + label;
        }
    }
    for (int k = 2; k <= 4; ++k)
        w.graph->channelBox(k)->setChecked(true);
    w.graph->close();

    // The program's message boxes, built as the program builds them.
    const int lang = rig.values.settings.language.load();
    const QString detail =
        QStringLiteral("/home/operator/Messungen/Versuch 12.dat: Permission denied");
    const QList<std::pair<QString, QString>> boxes = {
        {QString::fromStdString(rig.values.uiText[27]),
         QString::fromStdString(rig.values.uiText[28])},
        {QString::fromStdString(rig.values.uiText[33]),
         QString::fromStdString(rig.values.uiText[34])},
        {shownText(ProgramText::SaveFailed, lang) + '\n' + detail, QStringLiteral("Error")},
        {shownText(ProgramText::PrintFailed, lang), QString::fromStdString(rig.values.uiText[34])},
    };
    int n = 0;
    for (const auto& [text, caption] : boxes) {
        QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, &rig.window());
        box.setObjectName(QStringLiteral("message%1").arg(++n));
        box.show();
        check(box.objectName(), &box, {});
    }
    QVERIFY2(faults_.isEmpty(), qPrintable(faults_.join(QLatin1Char('\n'))));
}

void TestLayout::longUnitKeepsChannelName() {
    // A unit too long for its column is shortened at its end: the channel's
    // name stays readable and the whole caption is the column's tooltip.
    tarvelo::sim::InstrumentConfig config;
    config.units[1] = "ABCDEFGHIJKLMNOPQRST";
    Rig rig(true, config);
    rig.writeSettings();
    rig.startReady();
    QHeaderView* header = rig.window().listView()->header();
    const QString caption = tarvelo::guitest::headerText(rig.window(), 3);
    QCOMPARE(caption, QStringLiteral("Channel 2 (ABCDEFGHIJKLMNOPQRST)"));
    QVERIFY(header->fontMetrics().horizontalAdvance(caption) > header->sectionSize(3));
    QCOMPARE(header->textElideMode(), Qt::ElideRight);
    QCOMPARE(header->model()->headerData(3, Qt::Horizontal, Qt::ToolTipRole).toString(), caption);
}

void TestLayout::autoRefreshKeepsYLabelsWhole() {
    // Values in a narrow band while sampling: Auto-Refresh narrows the label
    // step, and the longer labels must be laid out, not shortened.
    Rig rig;
    rig.writeSettings();
    rig.startReady();
    for (int i = 0; i < 300; ++i)
        rig.values.memory.AppendSample(tarvelo::test::makeRow(12345.2 + 0.002 * i, 1, 2, 3));
    tarvelo::gui::TgraphView& g = *rig.windows.graph;
    g.showGraph();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    for (int k = 2; k <= 4; ++k)
        g.channelBox(k)->setChecked(false);
    const QStringList before = g.yAxisLabels();
    // Whole right after each tick of Auto-Refresh, not only after a later
    // layout (a printout draws the chart at once).
    for (int tick = 0; tick < 2; ++tick) {
        g.Timer2Timer();
        const QStringList shortened = shortenedChartTexts(g.chart(), g.yAxisLabels());
        QVERIFY2(shortened.isEmpty(), qPrintable(shortened.join(QLatin1Char('\n'))));
        QCoreApplication::processEvents();
    }
    QVERIFY(g.preferredYStep().has_value());
    QVERIFY(g.yAxisLabels() != before);
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
