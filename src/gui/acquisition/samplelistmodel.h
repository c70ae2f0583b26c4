#pragma once

#include <QAbstractTableModel>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"

namespace tarvelo::gui {

// Presents the core's sample list (captions and rows) to the main window's
// list view. Every change to the list goes through this model so that the
// view stays in step. Values are formatted with the decimal separator of the
// current default locale each time they are shown.
class SampleListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SampleListModel(acquisition::SampleList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // AddSampleListRow.
    void addRow(const acquisition::SampleRow& row);
    // Empties the list.
    void clear();
    // RefillSampleList (appends; empties nothing).
    void refill(const acquisition::MeasurementMemory& memory);
    // To be called after the captions were changed on the list directly
    // (UpdateChannelCaptions, the plain captions of ApplyLanguage).
    void captionsChanged();

    acquisition::SampleList& list() { return list_; }
    const acquisition::SampleList& list() const { return list_; }

    // The first character of the locale's decimal separator; "." when it is
    // not a plain ASCII character.
    static char decimalSeparator();

private:
    acquisition::SampleList& list_;
};

}  // namespace tarvelo::gui
