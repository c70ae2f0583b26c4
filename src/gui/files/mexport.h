#pragma once

#include <array>

#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace tarvelo::app {
class UiText;
}

namespace tarvelo::gui {

// The export choice: spreadsheet, clipboard or ".asc" file. Modal; every
// showing starts without a choice, so OK alone chooses nothing.
class TFormExport : public QDialog {
    Q_OBJECT
public:
    // In the order of the choices in RadioGroup1.
    enum class Choice { None = -1, Spreadsheet = 0, Clipboard = 1, File = 2 };

    explicit TFormExport(const app::UiText& text, QWidget* parent = nullptr);

    // The choice made when the dialog was closed (None when nothing was
    // picked).
    Choice choice() const;

    QGroupBox* radioGroup() const { return radioGroup1_; }
    QRadioButton* choiceButton(Choice which) const { return choices_.at(static_cast<int>(which)); }
    QPushButton* okButton() const { return button1_; }
    QPushButton* cancelButton() const { return button2_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Caption and choice texts from the active texts, no choice selected.
    void FormShow();

    const app::UiText& text_;
    QGroupBox* radioGroup1_;
    QButtonGroup* group_;
    std::array<QRadioButton*, 3> choices_{};
    QPushButton* button1_;
    QPushButton* button2_;
};

}  // namespace tarvelo::gui
