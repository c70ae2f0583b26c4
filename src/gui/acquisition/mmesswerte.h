#pragma once

#include <array>
#include <functional>

#include <QWidget>

class QLabel;

namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

// The live value window: the newest value of each channel in large type with
// the channel's unit, always on top. It has no acquisition of its own; the
// graph window's refresh writes the values (setValueText).
class Tmesswerte : public QWidget {
    Q_OBJECT
public:
    explicit Tmesswerte(app::ProcessValues& values, QWidget* parent = nullptr);

    // Run when the operator closes the window; the graph window unticks its
    // largeValues box here, so that the box tells whether the window is open.
    void setClosedHandler(std::function<void()> handler) { closed_ = std::move(handler); }

    // Channel 1..4.
    void setValueText(int channel, const QString& text);
    QLabel* channelLabel(int channel) const { return labels_.at(channel - 1); }
    QLabel* valueLabel(int channel) const { return values_.at(channel - 1); }
    QLabel* unitLabel(int channel) const { return units_.at(channel - 1); }

public slots:
    // Caption, channel names and units; every value field starts at "0,0".
    void FormShow();
    void FormClose();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Sets a large text, made smaller when it would not fit its field.
    static void setFittingText(QLabel* label, const QString& text);

    app::ProcessValues& processValues_;
    std::function<void()> closed_;
    std::array<QLabel*, 4> labels_{};
    std::array<QLabel*, 4> values_{};
    std::array<QLabel*, 4> units_{};
};

}  // namespace tarvelo::gui
