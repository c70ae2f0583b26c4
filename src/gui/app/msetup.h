#pragma once

#include <functional>

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvelo::app {
struct ProcessValues;
}

namespace tarvelo::gui {

// The setup dialog: instrument address, sample interval and language (and
// the hidden port). okClick takes the values into the settings; writing them
// to the file is the main window's part.
class Tconfig : public QDialog {
    Q_OBJECT
public:
    explicit Tconfig(app::ProcessValues& values, QWidget* parent = nullptr);

    // Runs after a language was picked: the main window's and the graph
    // window's ApplyLanguage.
    void setLanguageApplier(std::function<void()> apply) { applyLanguage_ = std::move(apply); }

    QLineEdit* addressEdit() const { return edit1_; }
    QLineEdit* portEdit() const { return edit2_; }
    QComboBox* sampleRateList() const { return comboBox2_; }
    QComboBox* languageList() const { return comboBox1_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* addressLabel() const { return label1_; }
    QLabel* sampleRateLabel() const { return label4_; }
    QLabel* languageLabel() const { return label3_; }

public slots:
    void FormShow();
    // The operator picked a language.
    void ComboBox1Change(int index);
    void okClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applyTexts();
    void placeControls();

    app::ProcessValues& values_;
    std::function<void()> applyLanguage_;
    QLabel* label1_;
    QLineEdit* edit1_;
    QLabel* label4_;
    QComboBox* comboBox2_;
    QLabel* label3_;
    QComboBox* comboBox1_;
    QLabel* label2_;
    QLineEdit* edit2_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace tarvelo::gui
