#pragma once

#include <array>

#include <QDialog>

#include "analysis/statistics.h"

class QLabel;
class QPushButton;

namespace tarvelo::acquisition {
class SampleList;
}
namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

// The statistics window: minimum, maximum, average and standard deviation of
// every channel over the whole memory, with the number of data sets. The
// figures are a snapshot taken when the window is shown; they do not follow
// the memory while it stays open.
//
// A cell whose figure is undefined (the deviation of fewer than two data sets,
// every figure of an empty memory) shows the empty text. A column whose
// figures are too wide for their place moves right instead of overlapping.
class TstatWindow : public QDialog {
    Q_OBJECT
public:
    TstatWindow(app::ProcessValues& values, const acquisition::SampleList& captions,
                QWidget* parent = nullptr);

    // The results of the last ComputeStatistics run.
    const analysis::StatisticsResult& results() const { return results_; }

    QLabel* numDataSets() const { return numDataSets_; }
    // Channel 1..4: the column heading.
    QLabel* columnHeading(int channel) const { return headings_.at(channel - 1); }
    // Row 0..3 (minimum, maximum, average, deviation): the row heading.
    QLabel* rowHeading(int row) const { return rowHeadings_.at(row); }
    // Row 0..3, channel 1..4: the value cell.
    QLabel* cell(int row, int channel) const { return cells_.at(row).at(channel - 1); }
    QPushButton* okButton() const { return ok_; }
    QPushButton* copyButton() const { return copy_; }

    // The table as shown, tab-separated for a spreadsheet: the count line,
    // a tab and the four column headings, then one line per statistic with
    // its heading and the four figures.
    QString tableText() const;

public slots:
    // Computes the figures over one snapshot of the memory and sets the
    // column headings to the sample list's channel captions.
    void ComputeStatistics();
    // ComputeStatistics, then every text of the window.
    void FormShow();
    // "Copy" and Ctrl+C: tableText() on the clipboard.
    void copyTable();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Places the value cells right-aligned in their columns and the column
    // headings above them.
    void layoutColumns();

    app::ProcessValues& values_;
    const acquisition::SampleList& captions_;
    analysis::StatisticsResult results_;

    QLabel* numDataSets_ = nullptr;
    std::array<QLabel*, 4> headings_{};
    std::array<QLabel*, 4> rowHeadings_{};
    std::array<std::array<QLabel*, 4>, 4> cells_{};
    QPushButton* ok_ = nullptr;
    QPushButton* copy_ = nullptr;
};

// A statistics table as Copy puts it on the clipboard: the count, the
// channel headings, then one line a row, the cells separated by tabs.
QString statisticsTableText(const QLabel* count, const std::array<QLabel*, 4>& headings,
                            const std::array<QLabel*, 4>& rowHeadings,
                            const std::array<std::array<QLabel*, 4>, 4>& cells);

}  // namespace tarvelo::gui
