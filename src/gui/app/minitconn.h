#pragma once

#include <QDialog>

class QLabel;

namespace tarvelo::gui {

// The small window shown while the first contact with the instrument runs.
// No behaviour of its own and not translated.
class TInitConnection : public QDialog {
    Q_OBJECT
public:
    explicit TInitConnection(QWidget* parent = nullptr);

    // Shows the window centred on the screen and paints it at once: the
    // blocking first contact that follows processes no events.
    void showPainted();

    QLabel* label() const { return label_; }

private:
    QLabel* label_;
};

}  // namespace tarvelo::gui
