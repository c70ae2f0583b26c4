#include "analysis/mrecording.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

#include "acquisition/samplelistmodel.h"
#include "analysis/mstatistic.h"
#include "analysis/recordingview.h"
#include "analysis/standard_colours.h"
#include "analysis/statistics.h"
#include "analysis/timeaxis.h"
#include "app/dialogs.h"
#include "app/process_values.h"
#include "app/program_text.h"
#include "app/settings.h"
#include "app/shown_text.h"
#include "common/numbers.h"
#include "device/replies.h"
#include "files/workbook.h"
#include "recording/stretch.h"
#include "recording/split_run.h"

namespace tarvelo::gui {

namespace {

// A worker thread's progress, a share from 0 to 1, handed to the window's
// thread in steps of a tenth of a percent (the bars run from 0 to 1000).
std::function<void(double)> progressPoster(QObject* window, std::function<void(int)> show) {
    return [window, show = std::move(show), last = -1](double share) mutable {
        const int value = static_cast<int>(share * 1000);
        if (value == last)
            return;
        last = value;
        QMetaObject::invokeMethod(
            window, [show, value] { show(value); }, Qt::QueuedConnection);
    };
}

constexpr int kCountText = 42;         // "Number of datasets: %d"
constexpr int kFirstRowHeading = 43;   // minimum, maximum, average, standard deviation
constexpr int kErrorCaptionText = 34;  // "Error"

constexpr analysis::StatisticRow kRows[4] = {
    analysis::StatisticRow::Minimum, analysis::StatisticRow::Maximum,
    analysis::StatisticRow::Average, analysis::StatisticRow::Deviation};

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A push button wide enough for its text with the style's margin on both
// sides (the style's own size hint leaves room for one).
void giveTextRoom(QPushButton* button) {
    const QStyle* style = button->style();
    const int room = button->fontMetrics().horizontalAdvance(button->text()) +
                     2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                     2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    button->setMinimumWidth(std::max(button->minimumSizeHint().width(), room));
}

// `value` cut (never rounded up) to `decimals` places, without trailing zeros,
// with the regional decimal separator.
QString decimalText(double value, int decimals, char separator) {
    const double scale = std::pow(10.0, decimals);
    QString text = QString::number(std::floor(value * scale + 1e-9) / scale, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text.replace(QLatin1Char('.'), QLatin1Char(separator));
}

// A time span in the unit that reads best, cut so that it never says more
// than `ms`: "750 ms", "10,24 s", "2,5 min", "3,1 h".
QString spanText(double ms, char separator) {
    if (ms < 1000.0)
        return decimalText(ms, 0, separator) + QStringLiteral(" ms");
    if (ms < 120000.0)
        return decimalText(ms / 1000.0, 2, separator) + QStringLiteral(" s");
    if (ms < 7200000.0)
        return decimalText(ms / 60000.0, 1, separator) + QStringLiteral(" min");
    return decimalText(ms / 3600000.0, 1, separator) + QStringLiteral(" h");
}

}  // namespace

TrecordingWindow::TrecordingWindow(app::ProcessValues& values, Dialogs& dialogs, QWidget* owner)
    : QWidget(owner, Qt::Window), values_(values), dialogs_(dialogs), owner_(owner) {
    setObjectName(QStringLiteral("RecordingWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    language_ = values_.settings.language.load();
    resize(1000, 640);

    pages_ = new QStackedWidget(this);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(pages_);

    // Page 0: the progress of the opening.
    auto* openingPage = new QWidget;
    auto* openingLayout = new QVBoxLayout(openingPage);
    openingLabel_ = new QLabel;
    progress_ = new QProgressBar;
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    cancel_ = new QPushButton(text(static_cast<int>(app::ProgramText::RecordingCancel)));
    cancel_->setObjectName(QStringLiteral("Cancel"));
    connect(cancel_, &QPushButton::clicked, this, &TrecordingWindow::cancelOpening);
    openingLayout->addStretch();
    openingLayout->addWidget(openingLabel_);
    openingLayout->addWidget(progress_);
    openingLayout->addWidget(cancel_, 0, Qt::AlignHCenter);
    openingLayout->addStretch();
    pages_->addWidget(openingPage);

    // Page 1: the recording.
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* bar = new QHBoxLayout;
    wholeRun_ = new QPushButton(text(static_cast<int>(app::ProgramText::RecordingWholeRun)));
    wholeRun_->setObjectName(QStringLiteral("WholeRun"));
    undo_ = new QPushButton(text(static_cast<int>(app::ProgramText::RecordingUndoZoom)));
    undo_->setObjectName(QStringLiteral("UndoZoom"));
    take_ = new QPushButton(text(static_cast<int>(app::ProgramText::RecordingTakeIntoMemory)));
    take_->setObjectName(QStringLiteral("TakeIntoMemory"));
    export_ = new QPushButton(text(static_cast<int>(app::ProgramText::RecordingExportStretch)));
    export_->setObjectName(QStringLiteral("ExportStretch"));
    bar->addWidget(wholeRun_);
    bar->addWidget(undo_);
    view_ = new RecordingView;
    view_->setToolTip(text(static_cast<int>(app::ProgramText::RecordingViewTooltip)));
    const app::SettingsFile settings(values_.settingsFilePath());
    for (int k = 0; k < 4; ++k) {
        channels_[static_cast<std::size_t>(k)] = new QCheckBox;
        auto* box = channels_[static_cast<std::size_t>(k)];
        box->setObjectName(QStringLiteral("Ch%1").arg(k + 1));
        box->setChecked(settings.readBool("Channel " + std::to_string(k + 1), true));
        view_->setChannelShown(k, box->isChecked());
        const int index =
            settings.readInt("Color " + std::to_string(k + 1),
                             analysis::kDefaultColourIndex[static_cast<std::size_t>(k)]);
        const auto colour = analysis::standardColour(index).value_or(
            *analysis::standardColour(analysis::kDefaultColourIndex[static_cast<std::size_t>(k)]));
        view_->setColour(k, QColor(colour.red, colour.green, colour.blue));
        QPalette palette = box->palette();
        palette.setColor(QPalette::WindowText,
                         QColor(colour.red, colour.green, colour.blue).darker(130));
        box->setPalette(palette);
        connect(box, &QCheckBox::toggled, this,
                [this, k](bool on) { view_->setChannelShown(k, on); });
        bar->addWidget(box);
    }
    bar->addStretch();
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    // The time and the four values under the cursor line.
    cursor_ = new QLabel;
    cursor_->setObjectName(QStringLiteral("CursorValues"));
    cursor_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cursor_->setMinimumHeight(cursor_->fontMetrics().height());
    layout->addWidget(cursor_);

    // The statistics of the stretch in view, laid out as the statistics window's.
    auto* stats = new QGridLayout;
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("numDataSets"));
    stats->addWidget(count_, 0, 0);
    for (int k = 0; k < 4; ++k) {
        headings_[static_cast<std::size_t>(k)] = new QLabel;
        stats->addWidget(headings_[static_cast<std::size_t>(k)], 0, k + 1, Qt::AlignRight);
    }
    for (int r = 0; r < 4; ++r) {
        rowHeadings_[static_cast<std::size_t>(r)] =
            new QLabel(fromUtf8(values_.uiText[kFirstRowHeading + r]));
        stats->addWidget(rowHeadings_[static_cast<std::size_t>(r)], r + 1, 0);
        for (int k = 0; k < 4; ++k) {
            auto* cell = new QLabel;
            cell->setObjectName(QStringLiteral("cell%1_%2").arg(r).arg(k + 1));
            cell->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            cell->setMinimumWidth(110);
            cells_[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)] = cell;
            stats->addWidget(cell, r + 1, k + 1);
        }
    }
    copy_ = new QPushButton(text(static_cast<int>(app::ProgramText::StatisticsCopyButton)));
    copy_->setObjectName(QStringLiteral("Copy"));
    // What acts on the stretch in view, beside its statistics.
    stats->addWidget(take_, 2, 5);
    stats->addWidget(export_, 3, 5);
    stats->addWidget(copy_, 4, 5, Qt::AlignBottom);
    stats->setColumnStretch(6, 1);
    layout->addLayout(stats);
    info_ = new QLabel;
    info_->setObjectName(QStringLiteral("Info"));
    layout->addWidget(info_);
    pages_->addWidget(page);

    for (QPushButton* button : {cancel_, wholeRun_, undo_, take_, export_, copy_})
        giveTextRoom(button);

    connect(wholeRun_, &QPushButton::clicked, view_, &RecordingView::wholeRun);
    connect(undo_, &QPushButton::clicked, view_, &RecordingView::undo);
    connect(copy_, &QPushButton::clicked, this, &TrecordingWindow::copyStatistics);
    connect(take_, &QPushButton::clicked, this, &TrecordingWindow::takeIntoMemory);
    connect(export_, &QPushButton::clicked, this, &TrecordingWindow::exportStretch);
    connect(view_, &RecordingView::viewChanged, this, &TrecordingWindow::updateStatistics);
    connect(view_, &RecordingView::cursorMoved, this, &TrecordingWindow::showCursor);
}

TrecordingWindow::~TrecordingWindow() {
    cancelOpening();
    if (reader_.joinable())
        reader_.join();
    // An export in progress stops; the file it was to replace stays.
    exportCancelled_.store(true);
    if (exporter_.joinable())
        exporter_.join();
}

QString TrecordingWindow::text(int programText) const {
    return shownText(static_cast<app::ProgramText>(programText), language_);
}

void TrecordingWindow::open(const QString& path) {
    open(QStringList{path});
}

void TrecordingWindow::open(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& path : paths)
        files.push_back(QFile::encodeName(path).toStdString());
    const recording::RunOrder order = recording::orderSplitRun(files);
    if (order.fault != recording::RunFault::None) {
        refuseRun(order);
        return;
    }
    const QString path = QFile::decodeName(order.paths.front().c_str());
    path_ = path;
    severalFiles_ = order.paths.size() > 1;
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" \u2013 ") +
                   QApplication::applicationName());
    openingLabel_->setText(
        text(static_cast<int>(app::ProgramText::RecordingOpening)).arg(QFileInfo(path).fileName()));
    pages_->setCurrentIndex(0);
    progress_->setValue(0);
    show();
    reader_ = std::thread([this, files = order.paths] {
        recording::ReadOptions options;
        options.cancel = &cancelled_;
        options.progress = progressPoster(this, [this](int value) { progress_->setValue(value); });
        outcome_ = recording::readRecordingFiles(files, options);
        QMetaObject::invokeMethod(
            this, [this] { finishOpening(); }, Qt::QueuedConnection);
    });
}

void TrecordingWindow::refuseRun(const recording::RunOrder& order) {
    using recording::RunFault;
    // The files by name; by path where two files have the same name.
    QString file = QFile::decodeName(order.file.c_str());
    QString other = QFile::decodeName(order.other.c_str());
    if (file == other || QFileInfo(file).fileName() != QFileInfo(other).fileName()) {
        file = QFileInfo(file).fileName();
        other = QFileInfo(other).fileName();
    }
    const app::ProgramText reason =
        order.fault == RunFault::NotAPart   ? app::ProgramText::RecordingRunNotAPart
        : order.fault == RunFault::OtherRun ? app::ProgramText::RecordingRunOtherRun
        : order.fault == RunFault::Twice    ? app::ProgramText::RecordingRunTwice
        : order.fault == RunFault::Missing  ? app::ProgramText::RecordingRunMissing
                                            : app::ProgramText::RecordingRunUnfinished;
    QString why = text(static_cast<int>(reason)).arg(file);
    if (order.fault == RunFault::OtherRun || order.fault == RunFault::Twice)
        why = why.arg(other);
    dialogs_.message(
        owner_,
        text(static_cast<int>(app::ProgramText::RecordingOpenFailed)) + QLatin1Char('\n') + why,
        QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical, QMessageBox::Ok);
    emit openingFinished(false);
    close();
}

void TrecordingWindow::cancelOpening() {
    cancelled_.store(true);
}

void TrecordingWindow::finishOpening() {
    if (reader_.joinable())
        reader_.join();
    if (!outcome_.recording) {
        if (!outcome_.cancelled) {
            dialogs_.message(
                owner_,
                text(static_cast<int>(app::ProgramText::RecordingOpenFailed)) + QLatin1Char('\n') +
                    // With several files the reason names the file.
                    (severalFiles_ ? QString()
                                   : QFileInfo(path_).fileName() + QStringLiteral(": ")) +
                    fromUtf8(outcome_.error),
                QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical, QMessageBox::Ok);
        }
        emit openingFinished(false);
        close();
        return;
    }
    recording_ = std::move(outcome_.recording);
    for (int k = 0; k < 4; ++k) {
        const QString caption = fromUtf8(recording_->captions()[static_cast<std::size_t>(k + 1)]);
        channels_[static_cast<std::size_t>(k)]->setText(caption);
        headings_[static_cast<std::size_t>(k)]->setText(caption);
    }
    QString info = text(static_cast<int>(app::ProgramText::RecordingGaps))
                       .arg(recording_->gaps().size())
                       .arg(recording_->usualStepMs());
    if (recording_->cutLastLine())
        info += QStringLiteral("  \u2013  ") +
                text(static_cast<int>(app::ProgramText::RecordingCutLastLine));
    info_->setText(info);
    view_->setRecording(recording_.get());
    pages_->setCurrentIndex(1);
    emit openingFinished(true);
}

void TrecordingWindow::updateStatistics() {
    undo_->setEnabled(view_->canUndo());
    if (!recording_)
        return;
    const auto [from, to] = view_->visibleStretch();
    // A stretch without samples gives nothing to take or write.
    take_->setEnabled(to > from);
    export_->setEnabled(to > from && !exporting());
    const auto result = recording_->statistics(from, to);
    const char separator = SampleListModel::decimalSeparator();
    QString count = fromUtf8(values_.uiText[kCountText]);
    count.replace(QLatin1String("%d"), QString::number(result.count));
    count_->setText(count);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            cells_[static_cast<std::size_t>(r)][static_cast<std::size_t>(k)]->setText(
                fromUtf8(analysis::statisticCellText(result, k, kRows[r], separator)));
}

void TrecordingWindow::showCursor(std::optional<uint64_t> sample) {
    if (!sample || !recording_) {
        cursor_->clear();
        return;
    }
    const double time = static_cast<double>(recording_->timeMs(*sample));
    QString line = TimeAxis::dateText(time) + QLatin1Char(' ') + TimeAxis::timeText(time, 3);
    const char separator = SampleListModel::decimalSeparator();
    for (int k = 0; k < 4; ++k)
        line += QStringLiteral("   ") +
                fromUtf8(common::formatValue(recording_->value(k, *sample), separator));
    cursor_->setText(line);
}

QString TrecordingWindow::statisticsText() const {
    return statisticsTableText(count_, headings_, rowHeadings_, cells_);
}

void TrecordingWindow::copyStatistics() {
    QGuiApplication::clipboard()->setText(statisticsText());
}

void TrecordingWindow::takeIntoMemory() {
    if (!recording_ || !taker_)
        return;
    const auto [from, to] = view_->visibleStretch();
    const recording::MemoryStretch stretch = recording::stretchToMemory(*recording_, from, to);
    const QString caption = text(static_cast<int>(app::ProgramText::RecordingTakeIntoMemory));
    if (!stretch.fits) {
        // How far to zoom in: the factor, rounded up, and the span of a
        // view that holds no more samples than the memory takes.
        const char separator = SampleListModel::decimalSeparator();
        const double factor = std::ceil(stretch.zoomFactor * 10.0 - 1e-9) / 10.0;
        const double span = stretch.fittingSpanMs;
        dialogs_.message(this,
                         text(static_cast<int>(app::ProgramText::RecordingTakeTooLong))
                             .arg(stretch.samples)
                             .arg(acquisition::kMemoryCapacity)
                             .arg(decimalText(factor, 1, separator), spanText(span, separator)),
                         caption, QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    if (taker_(stretch.rows, this) == Take::Busy)
        dialogs_.message(this, text(static_cast<int>(app::ProgramText::RecordingMemoryBusy)),
                         caption, QMessageBox::Warning, QMessageBox::Ok);
}

void TrecordingWindow::exportStretch() {
    if (!recording_ || exporting())
        return;
    const auto [from, to] = view_->visibleStretch();
    const uint64_t samples = to - from;
    const int language = language_;
    const QString tooLong = text(static_cast<int>(app::ProgramText::RecordingWorkbookTooLong))
                                .arg(files::kWorkbookRowLimit)
                                .arg(samples);

    FileRequest request;
    request.title = text(static_cast<int>(app::ProgramText::RecordingExportTitle));
    request.folder = QString::fromStdString(values_.fileDialogFolder());
    request.filter = text(static_cast<int>(app::ProgramText::RecordingExportFilter));
    request.defaultSuffix = QStringLiteral("asc");
    request.suffixFromFilter = true;
    request.confirmOverwrite = true;
    // Refused in the dialog, which stays open for another choice, before
    // anything is written: a folder that is not there, and a workbook that
    // could not hold the stretch.
    request.refusal = [language, samples, tooLong](const QString& path) {
        QString refused = missingFolderText(path, language);
        if (refused.isEmpty() &&
            recording::stretchFormatFor(path.toStdString()) == recording::StretchFormat::Workbook &&
            samples > files::kWorkbookRowLimit)
            refused = tooLong;
        return refused;
    };
    request.refusalCaption = fromUtf8(values_.uiText[kErrorCaptionText]);
    const QString path = dialogs_.saveFileName(this, request);
    if (path.isEmpty())
        return;

    // Written on a thread of its own, a stretch of any length: the window
    // waits behind a progress box with Cancel, the program goes on.
    const std::string file = QFile::encodeName(path).toStdString();
    const auto format = recording::stretchFormatFor(path.toStdString())
                            .value_or(recording::StretchFormat::ExportText);
    const char separator = SampleListModel::decimalSeparator();
    exportPath_ = path;
    exportCancelled_.store(false);
    exportProgress_ = new QProgressDialog(
        text(static_cast<int>(app::ProgramText::RecordingExportWriting))
            .arg(QFileInfo(path).fileName()),
        text(static_cast<int>(app::ProgramText::RecordingCancel)), 0, 1000, this);
    exportProgress_->setObjectName(QStringLiteral("ExportProgress"));
    exportProgress_->setWindowModality(Qt::WindowModal);
    exportProgress_->setMinimumDuration(500);
    exportProgress_->setAutoReset(false);
    exportProgress_->setAutoClose(false);
    exportProgress_->setValue(0);
    connect(exportProgress_, &QProgressDialog::canceled, this,
            [this] { exportCancelled_.store(true); });
    export_->setEnabled(false);
    exporter_ = std::thread([this, file, format, separator, from = from, to = to] {
        recording::ExportOptions options;
        options.cancel = &exportCancelled_;
        options.progress = progressPoster(this, [this](int value) {
            if (exportProgress_)
                exportProgress_->setValue(value);
        });
        exportOutcome_ =
            recording::exportStretch(*recording_, from, to, format, file, separator, options);
        QMetaObject::invokeMethod(
            this, [this] { finishExport(); }, Qt::QueuedConnection);
    });
}

void TrecordingWindow::finishExport() {
    if (exporter_.joinable())
        exporter_.join();
    if (exportProgress_) {
        exportProgress_->deleteLater();
        exportProgress_ = nullptr;
    }
    updateStatistics();  // enables the buttons again
    const QString caption = fromUtf8(values_.uiText[kErrorCaptionText]);
    if (exportOutcome_.result == recording::StretchExport::Result::TooManyRows) {
        dialogs_.message(this,
                         text(static_cast<int>(app::ProgramText::RecordingWorkbookTooLong))
                             .arg(files::kWorkbookRowLimit)
                             .arg(exportOutcome_.rows),
                         caption, QMessageBox::Critical, QMessageBox::Ok);
    } else if (exportOutcome_.result == recording::StretchExport::Result::Failed) {
        // As the main window's Save and Export report a failed write.
        dialogs_.message(this,
                         failureText(app::ProgramText::WriteFailed, language_, exportPath_,
                                     exportOutcome_.errorNumber, exportOutcome_.error),
                         QString::fromLatin1(device::kErrorCaption), QMessageBox::Critical,
                         QMessageBox::Ok);
    }
    emit exportFinished();
}

}  // namespace tarvelo::gui
