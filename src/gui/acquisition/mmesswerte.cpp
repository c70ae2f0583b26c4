#include "acquisition/mmesswerte.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QShowEvent>

#include "app/process_values.h"

namespace tarvelo::gui {

namespace {

constexpr int kClientWidth = 526;
constexpr int kClientHeight = 319;
constexpr int kRowHeight = 76;
constexpr int kTopMargin = 8;

QFont pixelFont(int pixels, bool bold) {
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

Tmesswerte::Tmesswerte(app::ProcessValues& values, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      processValues_(values) {
    setObjectName(QStringLiteral("messwerte"));
    setFixedSize(kClientWidth, kClientHeight);
    const QFont small = pixelFont(16, false);
    const QFont large = pixelFont(48, true);
    for (int c = 0; c < 4; ++c) {
        const int top = kTopMargin + c * kRowHeight;
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label%1").arg(c + 1));
        label->setFont(small);
        label->setGeometry(16, top + 22, 110, 24);
        labels_[c] = label;

        auto* value = new QLabel(this);
        value->setObjectName(QStringLiteral("channel%1").arg(c + 1));
        value->setFont(large);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setGeometry(120, top, 280, 64);
        values_[c] = value;

        auto* unit = new QLabel(this);
        unit->setObjectName(QStringLiteral("unitch%1").arg(c + 1));
        unit->setFont(large);
        unit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        unit->setGeometry(412, top, 110, 64);
        units_[c] = unit;
    }
}

void Tmesswerte::setValueText(int channel, const QString& text) {
    values_.at(channel - 1)->setText(text);
}

void Tmesswerte::FormShow() {
    const app::UiText& text = processValues_.uiText;
    setWindowTitle(QString::fromStdString(text[50]));
    for (int c = 0; c < 4; ++c) {
        labels_[c]->setText(QString::fromStdString(text[7 + c]));
        units_[c]->setText(QString::fromStdString(processValues_.memory.channelUnit(c + 1)));
        values_[c]->setText(QStringLiteral("0,0"));
    }
}

void Tmesswerte::FormClose() {
    if (closed_)
        closed_();
}

void Tmesswerte::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tmesswerte::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    FormClose();
}

}  // namespace tarvelo::gui
