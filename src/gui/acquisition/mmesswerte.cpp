#include "acquisition/mmesswerte.h"

#include <algorithm>

#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QShowEvent>

#include "app/process_values.h"

namespace tarvelo::gui {

namespace {

constexpr int kClientWidth = 526;
constexpr int kClientHeight = 319;
constexpr int kRowHeight = 76;
constexpr int kTopMargin = 8;
constexpr int kLargePixels = 48;

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
    const QFont large = pixelFont(kLargePixels, true);
    for (int c = 0; c < 4; ++c) {
        const int top = kTopMargin + c * kRowHeight;
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label%1").arg(c + 1));
        label->setFont(small);
        label->setGeometry(16, top + 22, 84, 24);
        labels_[c] = label;

        auto* value = new QLabel(this);
        value->setObjectName(QStringLiteral("channel%1").arg(c + 1));
        value->setFont(large);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setGeometry(104, top, 298, 64);
        values_[c] = value;

        auto* unit = new QLabel(this);
        unit->setObjectName(QStringLiteral("unitch%1").arg(c + 1));
        unit->setFont(large);
        unit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        unit->setGeometry(410, top, 112, 64);
        units_[c] = unit;
    }
}

void Tmesswerte::setValueText(int channel, const QString& text) {
    setFittingText(values_.at(channel - 1), text);
}

void Tmesswerte::setFittingText(QLabel* label, const QString& text) {
    // 48 pixels high; a text too wide for its field at that size is set
    // smaller rather than cut off, which would show a different number.
    QFont font = label->font();
    font.setPixelSize(kLargePixels);
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    if (advance > label->width())
        font.setPixelSize(std::max(8, kLargePixels * label->width() / advance));
    label->setFont(font);
    label->setText(text);
}

void Tmesswerte::FormShow() {
    const app::UiText& text = processValues_.uiText;
    setWindowTitle(QString::fromStdString(text[50]));
    for (int c = 0; c < 4; ++c) {
        labels_[c]->setText(QString::fromStdString(text[7 + c]));
        setFittingText(units_[c], QString::fromStdString(processValues_.memory.channelUnit(c + 1)));
        setFittingText(values_[c], QStringLiteral("0,0"));
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
