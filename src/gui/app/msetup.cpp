#include "app/msetup.h"

#include <algorithm>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "app/placement.h"
#include "app/process_values.h"
#include "app/settings.h"

namespace tarvelo::gui {

namespace {

constexpr int kLanguageCount = 3;  // Italian is not offered in the list

constexpr int kClientWidth = 497;
constexpr int kClientHeight = 170;
constexpr int kFieldLeft = 136;  // the fields' column
constexpr int kLabelGap = 6;     // between a label's right edge and its field
constexpr int kEdgeMargin = 8;   // between the labels and the window's left edge
constexpr int kButtonLeft = 376;
constexpr int kButtonGap = 40;  // at least, between the fields and the buttons
constexpr int kRightMargin = 46;

// A right-aligned label of a field; applyTexts places it.
QLabel* rightLabel(int top, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setProperty("anchorTop", top);
    return label;
}

}  // namespace

Tconfig::Tconfig(app::ProcessValues& values, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      values_(values) {
    setObjectName(QStringLiteral("config"));
    setWindowTitle(QStringLiteral("config"));
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    label1_ = rightLabel(24, this);
    label1_->setObjectName(QStringLiteral("Label1"));
    edit1_ = new QLineEdit(this);
    edit1_->setObjectName(QStringLiteral("Edit1"));
    edit1_->setGeometry(136, 16, 185, 21);

    label4_ = rightLabel(64, this);
    label4_->setObjectName(QStringLiteral("Label4"));
    comboBox2_ = new QComboBox(this);
    comboBox2_->setObjectName(QStringLiteral("ComboBox2"));
    comboBox2_->setGeometry(136, 56, 145, 21);
    for (int i = 0; i < app::kSampleRateCount; ++i)
        comboBox2_->addItem(QString::fromUtf8(app::sampleRateLabel(i)));

    label3_ = rightLabel(104, this);
    label3_->setObjectName(QStringLiteral("Label3"));
    comboBox1_ = new QComboBox(this);
    comboBox1_->setObjectName(QStringLiteral("ComboBox1"));
    comboBox1_->setGeometry(136, 96, 145, 21);
    comboBox1_->addItems(
        {QStringLiteral("Deutsch"), QStringLiteral("English"), QStringLiteral("Fran\u00e7ais")});
    // activated: only the operator's pick, not the selection FormShow makes.
    connect(comboBox1_, &QComboBox::activated, this, &Tconfig::ComboBox1Change);

    // The port is kept in the settings file only; its field stays hidden.
    label2_ = new QLabel(QStringLiteral("Port Server:"), this);
    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->move(65, 144);
    label2_->hide();
    edit2_ = new QLineEdit(this);
    edit2_->setObjectName(QStringLiteral("Edit2"));
    edit2_->setGeometry(136, 136, 185, 21);
    edit2_->hide();

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(376, 40, 75, 25);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &Tconfig::okClick);
    cancel_ = new QPushButton(this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setGeometry(376, 104, 75, 25);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edit1_, comboBox2_);
    setTabOrder(comboBox2_, comboBox1_);
    setTabOrder(comboBox1_, edit2_);
    setTabOrder(edit2_, ok_);
    setTabOrder(ok_, cancel_);
    applyTexts();
}

void Tconfig::applyTexts() {
    const app::UiText& text = values_.uiText;
    label1_->setText(QString::fromStdString(text[21]));
    label4_->setText(QString::fromStdString(text[22]));
    label3_->setText(QString::fromStdString(text[23]));
    cancel_->setText(QString::fromStdString(text[24]));
    placeControls();
}

void Tconfig::placeControls() {
    // The fields keep their column while the labels fit left of it; a longer
    // translation moves the fields (and, where needed, the buttons and the
    // window's right edge) to the right rather than cutting the label.
    int widest = 0;
    for (QLabel* label : {label1_, label4_, label3_})
        widest = std::max(widest, label->sizeHint().width());
    const int fieldLeft = std::max(kFieldLeft, kEdgeMargin + widest + kLabelGap);
    for (QLabel* label : {label1_, label4_, label3_}) {
        const int width = label->sizeHint().width();
        label->setGeometry(fieldLeft - kLabelGap - width, label->property("anchorTop").toInt(),
                           width, label->sizeHint().height());
    }
    const int shift = fieldLeft - kFieldLeft;
    edit1_->move(fieldLeft, edit1_->y());
    comboBox2_->move(fieldLeft, comboBox2_->y());
    comboBox1_->move(fieldLeft, comboBox1_->y());
    label2_->move(65 + shift, label2_->y());
    edit2_->move(fieldLeft, edit2_->y());
    const int buttonLeft = std::max(kButtonLeft, edit1_->geometry().right() + 1 + kButtonGap);
    int buttonWidth = 75;
    for (QPushButton* button : {ok_, cancel_}) {
        const int margin =
            2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        buttonWidth =
            std::max(buttonWidth, button->fontMetrics().horizontalAdvance(button->text()) + margin);
    }
    ok_->setGeometry(buttonLeft, ok_->y(), buttonWidth, ok_->height());
    cancel_->setGeometry(buttonLeft, cancel_->y(), buttonWidth, cancel_->height());
    const int width = std::max(kClientWidth, buttonLeft + buttonWidth + kRightMargin);
    if (width != this->width())
        setFixedSize(width, kClientHeight);
}

void Tconfig::FormShow() {
    edit1_->setText(QString::fromStdString(values_.settings.ipServer()));
    edit2_->setText(QString::number(values_.settings.port.load()));
    // A value the list does not offer leaves it without a selection.
    const int language = values_.settings.language.load();
    comboBox1_->setCurrentIndex(language >= 0 && language < kLanguageCount ? language : -1);
    const int rate = values_.settings.sampleRate.load();
    comboBox2_->setCurrentIndex(rate >= 0 && rate < app::kSampleRateCount ? rate : -1);
    applyTexts();
    edit1_->setFocus();
}

void Tconfig::ComboBox1Change(int index) {
    if (index < 0)
        return;
    values_.settings.language = index;
    if (applyLanguage_)
        applyLanguage_();
    applyTexts();
}

void Tconfig::okClick() {
    // Blanks typed around the address are no part of it.
    values_.settings.setIpServer(edit1_->text().trimmed().toStdString());
    bool isNumber = false;
    const int port = edit2_->text().toInt(&isNumber);
    values_.settings.port = isNumber ? port : app::kDefaultPort;
    // No selection (a stored value the lists do not offer) keeps the stored
    // value rather than storing -1.
    if (comboBox1_->currentIndex() >= 0)
        values_.settings.language = comboBox1_->currentIndex();
    if (comboBox2_->currentIndex() >= 0)
        values_.settings.sampleRate = comboBox2_->currentIndex();
    accept();
}

void Tconfig::showEvent(QShowEvent* event) {
    FormShow();
    centreOnScreen(*this);
    QDialog::showEvent(event);
}

}  // namespace tarvelo::gui
