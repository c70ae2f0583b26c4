#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarvelo::app {
class UiText;
}

namespace tarvelo::gui {

// The progress window of the batch readouts: a tool window without title-bar
// buttons, centred on the screen, with a label above a progress bar, the
// count of records read with an estimate of the time left, and a Cancel
// button (Escape does the same). The readout runs on a thread of its own, so
// the window repaints and answers while it goes on.
class Tform_gauge : public QWidget {
    Q_OBJECT
public:
    explicit Tform_gauge(const app::UiText& text, QWidget* parent = nullptr);

    // Shows the window with the bar at 0 of `maximum` records, its own texts
    // in `language` (0 German, 1 English, 2 French).
    void start(int maximum, int language);
    // The records read so far.
    void setPosition(int position);
    void finish();

    QLabel* label() const { return label1_; }
    QProgressBar* progressBar() const { return progressBar1_; }
    // "k of N records", and the time left once one record has been read.
    QLabel* countLabel() const { return count_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    // Cancel or Escape: the readout is to end after its exchange in progress.
    void cancelRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    void showCount();

    const app::UiText& text_;
    int language_ = 1;
    QLabel* label1_;
    QProgressBar* progressBar1_;
    QLabel* count_;
    QPushButton* cancel_;
    QElapsedTimer clock_;
};

}  // namespace tarvelo::gui
