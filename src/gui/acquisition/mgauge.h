#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace tarvelo::app {
class UiText;
}

namespace tarvelo::gui {

// The progress window of "Batch to file": a tool window without title-bar
// buttons, centred on the screen, with a label above a progress bar. The
// readout blocks the user-interface thread, so the window paints itself at
// each step instead of waiting for the event loop.
class Tform_gauge : public QWidget {
    Q_OBJECT
public:
    explicit Tform_gauge(const app::UiText& text, QWidget* parent = nullptr);

    // Shows the window with the bar at 0 of `maximum` and has it drawn once.
    void start(int maximum);
    // The bar's position after a record; painted at once.
    void setPosition(int position);
    void finish();

    QLabel* label() const { return label1_; }
    QProgressBar* progressBar() const { return progressBar1_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    const app::UiText& text_;
    QLabel* label1_;
    QProgressBar* progressBar1_;
};

}  // namespace tarvelo::gui
