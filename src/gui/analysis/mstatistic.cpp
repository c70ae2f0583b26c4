#include "analysis/mstatistic.h"

#include <algorithm>

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>

#include "acquisition/sample_list.h"
#include "acquisition/samplelistmodel.h"
#include "app/placement.h"
#include "app/process_values.h"
#include "app/program_text.h"

namespace tarvelo::gui {

namespace {

constexpr int kClientWidth = 623;
constexpr int kClientHeight = 266;
constexpr std::array<int, 4> kHeadingLefts = {144, 280, 408, 528};
constexpr std::array<int, 4> kCellLefts = {136, 272, 400, 520};
constexpr std::array<int, 4> kRowTops = {80, 112, 144, 176};
constexpr int kCellWidth = 60;
constexpr int kLineHeight = 17;
constexpr int kColumnGap = 6;
constexpr int kRightMargin = 8;

constexpr std::array<analysis::StatisticRow, 4> kRows = {
    analysis::StatisticRow::Minimum, analysis::StatisticRow::Maximum,
    analysis::StatisticRow::Average, analysis::StatisticRow::Deviation};

QLabel* plainLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Captions come from the device (units): never read as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

void placeLeft(QLabel* label, int left, int top, const QString& text) {
    label->setText(text);
    label->adjustSize();
    label->move(left, top);
}

}  // namespace

TstatWindow::TstatWindow(app::ProcessValues& values, const acquisition::SampleList& captions,
                         QWidget* parent)
    : QDialog(parent), values_(values), captions_(captions) {
    setObjectName(QStringLiteral("statWindow"));
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);

    numDataSets_ = plainLabel(QStringLiteral("numDataSets"), this);
    numDataSets_->move(16, 16);
    for (std::size_t k = 0; k < 4; ++k) {
        headings_[k] = plainLabel(QStringLiteral("Label%1").arg(k + 1), this);
        headings_[k]->move(kHeadingLefts[k], 48);
    }
    constexpr std::array<const char*, 4> rowNames = {"min", "max", "average", "deviation"};
    for (std::size_t r = 0; r < 4; ++r) {
        rowHeadings_[r] = plainLabel(QStringLiteral("Label%1").arg(r + 5), this);
        rowHeadings_[r]->move(16, kRowTops[r]);
        for (std::size_t k = 0; k < 4; ++k) {
            QLabel* cell =
                plainLabel(QStringLiteral("%1%2").arg(QLatin1String(rowNames[r])).arg(k + 1), this);
            cell->setAlignment(Qt::AlignRight | Qt::AlignTop);
            cell->setGeometry(kCellLefts[k], kRowTops[r], kCellWidth, kLineHeight);
            cells_[r][k] = cell;
        }
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(280, 224, 75, 25);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    copy_ = new QPushButton(this);
    copy_->setObjectName(QStringLiteral("copy"));
    copy_->setGeometry(368, 224, 75, 25);
    copy_->setAutoDefault(false);
    connect(copy_, &QPushButton::clicked, this, &TstatWindow::copyTable);
    auto* copyKey = new QShortcut(QKeySequence::Copy, this);
    connect(copyKey, &QShortcut::activated, this, &TstatWindow::copyTable);
}

void TstatWindow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnScreen(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TstatWindow::ComputeStatistics() {
    // The core walks one snapshot of the memory: a sampling thread appending
    // meanwhile cannot make the count and the rows walked disagree.
    results_ = analysis::ComputeStatistics(values_.memory);
    for (int k = 1; k <= 4; ++k) {
        placeLeft(headings_[k - 1], kHeadingLefts[k - 1], 48,
                  QString::fromStdString(captions_.channelCaption(k)));
    }
}

void TstatWindow::FormShow() {
    ComputeStatistics();

    const app::UiText& text = values_.uiText;
    setWindowTitle(QString::fromStdString(text[20]));
    QString count = QString::fromStdString(text[42]);
    const qsizetype mark = count.indexOf(QLatin1String("%d"));
    if (mark >= 0)
        count.replace(mark, 2, QString::number(results_.count));
    placeLeft(numDataSets_, 16, 16, count);
    for (std::size_t r = 0; r < 4; ++r) {
        placeLeft(rowHeadings_[r], 16, kRowTops[r],
                  QString::fromStdString(text[43 + static_cast<int>(r)]));
    }

    const char separator = SampleListModel::decimalSeparator();
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t k = 0; k < 4; ++k) {
            const std::string cell =
                analysis::statisticCellText(results_, static_cast<int>(k), kRows[r], separator);
            cells_[r][k]->setText(QString::fromStdString(cell));
        }
    }
    layoutColumns();

    const std::string_view copy =
        app::programText(app::ProgramText::StatisticsCopyButton, values_.settings.language);
    copy_->setText(QString::fromUtf8(copy.data(), static_cast<qsizetype>(copy.size())));
    copy_->resize(std::max(75, copy_->sizeHint().width()), 25);
}

QString statisticsTableText(const QLabel* count, const std::array<QLabel*, 4>& headings,
                            const std::array<QLabel*, 4>& rowHeadings,
                            const std::array<std::array<QLabel*, 4>, 4>& cells) {
    const QLatin1Char tab('\t');
    const QLatin1Char end('\n');
    QString table = count->text() + end;
    for (const QLabel* heading : headings)
        table += tab + heading->text();
    table += end;
    for (std::size_t r = 0; r < 4; ++r) {
        table += rowHeadings[r]->text();
        for (const QLabel* cell : cells[r])
            table += tab + cell->text();
        table += end;
    }
    return table;
}

QString TstatWindow::tableText() const {
    return statisticsTableText(numDataSets_, headings_, rowHeadings_, cells_);
}

void TstatWindow::copyTable() {
    QGuiApplication::clipboard()->setText(tableText());
}

void TstatWindow::layoutColumns() {
    // Each column keeps its place while its heading and figures fit. A wider
    // figure moves the column (heading and cells) right, so that no figure
    // runs into the row headings or the column before it; a wider heading
    // moves the next columns right, so that headings never overlap. The
    // window grows when the last column would run past its edge.
    auto textWidth = [](const QLabel* label) {
        return label->fontMetrics().horizontalAdvance(label->text());
    };
    int previousRight = 0;
    for (QLabel* heading : rowHeadings_)
        previousRight = std::max(previousRight, heading->x() + textWidth(heading));
    int headingRight = 0;
    int rightmost = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        int widest = 0;
        for (std::size_t r = 0; r < 4; ++r)
            widest = std::max(widest, textWidth(cells_[r][k]));
        int right = std::max({kCellLefts[k] + kCellWidth, previousRight + kColumnGap + widest});
        // The heading keeps its offset from the cells' right edge, and starts
        // after the heading before it.
        const int offset = kHeadingLefts[k] - (kCellLefts[k] + kCellWidth);
        right = std::max(right, headingRight + kColumnGap - offset);
        for (std::size_t r = 0; r < 4; ++r) {
            QLabel* cell = cells_[r][k];
            const int width = std::max(kCellWidth, textWidth(cell) + 2);
            cell->setGeometry(right - width, kRowTops[r], width,
                              std::max(kLineHeight, cell->sizeHint().height()));
        }
        QLabel* heading = headings_[k];
        heading->adjustSize();
        heading->move(right + offset, 48);
        headingRight = heading->geometry().right() + 1;
        previousRight = right;
        rightmost = std::max({rightmost, right, headingRight});
    }
    const int width = std::max(kClientWidth, rightmost + kRightMargin);
    if (width != this->width())
        setFixedSize(width, kClientHeight);
}

}  // namespace tarvelo::gui
