#pragma once

#include <array>
#include <optional>

#include <QColor>
#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarvelo::acquisition {
class SampleList;
}
namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

class TgraphView;

// The line colour dialog: one colour list per channel. A pick is applied to
// the graph window's curve at once and stored in the settings file; "OK" only
// closes the dialog.
class TLineColor : public QDialog {
    Q_OBJECT
public:
    TLineColor(app::ProcessValues& values, const acquisition::SampleList& captions,
               QWidget* parent = nullptr);

    void setGraphView(TgraphView* graph) { graph_ = graph; }

    // Selects entry `index` of channel k's list without counting as a pick;
    // an index outside the list selects nothing.
    void selectIndex(int channel, int index);
    // The colour of channel k's selected entry, none when nothing is selected.
    std::optional<QColor> selectedColour(int channel) const;

    QComboBox* colorBox(int channel) const { return boxes_.at(channel - 1); }
    QLabel* label(int channel) const { return labels_.at(channel - 1); }
    QPushButton* okButton() const { return button1_; }

public slots:
    void FormShow();
    // The user picked entry `index` in channel k's list.
    void ColorBoxChange(int channel, int index);

protected:
    void showEvent(QShowEvent* event) override;

private:
    app::ProcessValues& values_;
    const acquisition::SampleList& captions_;
    TgraphView* graph_ = nullptr;
    std::array<QLabel*, 4> labels_{};
    std::array<QComboBox*, 4> boxes_{};
    QPushButton* button1_ = nullptr;
};

}  // namespace tarvelo::gui
