#include "files/mexport.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/uitext.h"

namespace tarvelo::gui {

namespace {

// UiText entries: the window's caption and the three choices.
constexpr int kCaptionText = 29;                        // "Export data"
constexpr std::array<int, 3> kChoiceTexts{30, 31, 32};  // "Excel (OLE)", "Clipboard", "File"

}  // namespace

TFormExport::TFormExport(const app::UiText& text, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      text_(text),
      radioGroup1_(new QGroupBox(this)),
      group_(new QButtonGroup(this)),
      button1_(new QPushButton(QStringLiteral("OK"), this)),
      button2_(new QPushButton(QStringLiteral("Cancel"), this)) {
    setObjectName(QStringLiteral("FormExport"));
    setModal(true);
    setFixedSize(233, 160);

    radioGroup1_->setObjectName(QStringLiteral("RadioGroup1"));
    radioGroup1_->setGeometry(8, 8, 217, 105);
    auto* column = new QVBoxLayout(radioGroup1_);
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        auto* choice = new QRadioButton(radioGroup1_);
        choice->setObjectName(QStringLiteral("Choice%1").arg(i + 1));
        column->addWidget(choice);
        group_->addButton(choice, static_cast<int>(i));
        choices_[i] = choice;
    }

    button1_->setObjectName(QStringLiteral("Button1"));
    button1_->setGeometry(32, 124, 75, 25);
    button1_->setDefault(true);
    connect(button1_, &QPushButton::clicked, this, &QDialog::accept);
    button2_->setObjectName(QStringLiteral("Button2"));
    button2_->setGeometry(126, 124, 75, 25);
    connect(button2_, &QPushButton::clicked, this, &QDialog::reject);
}

TFormExport::Choice TFormExport::choice() const {
    const int id = group_->checkedId();
    return id < 0 ? Choice::None : static_cast<Choice>(id);
}

void TFormExport::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TFormExport::FormShow() {
    setWindowTitle(QString::fromStdString(text_[kCaptionText]));
    // An exclusive group keeps one button checked; let go of it for a moment
    // to start without a choice.
    group_->setExclusive(false);
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        choices_[i]->setChecked(false);
        choices_[i]->setText(QString::fromStdString(text_[kChoiceTexts[i]]));
    }
    group_->setExclusive(true);
    // Each showing starts on the choices, so that OK stays the default
    // button: a push button that kept the focus from the last showing would
    // take Enter for itself.
    choices_[0]->setFocus();
}

}  // namespace tarvelo::gui
