#include "analysis/mlinecolor.h"

#include <algorithm>
#include <string>

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>

#include "acquisition/sample_list.h"
#include "analysis/mgrafik.h"
#include "analysis/standard_colours.h"
#include "app/placement.h"
#include "app/process_values.h"
#include "app/settings.h"

namespace tarvelo::gui {

namespace {

// A swatch with a thin dark frame, so that light colours stay visible.
QIcon swatch(const QColor& colour) {
    QPixmap pixmap(24, 12);
    pixmap.fill(colour);
    QPainter painter(&pixmap);
    painter.setPen(Qt::darkGray);
    painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    return QIcon(pixmap);
}

std::string colourKey(int channel) {
    return "Color " + std::to_string(channel);
}

constexpr int kLabelLeft = 48;
constexpr int kLabelMinLeft = 8;
constexpr int kBoxLeft = 128;

}  // namespace

TLineColor::TLineColor(app::ProcessValues& values, const acquisition::SampleList& captions,
                       QWidget* parent)
    : QDialog(parent), values_(values), captions_(captions) {
    setObjectName("LineColor");
    setWindowTitle("LineColor");
    setModal(true);
    setFixedSize(316, 258);

    constexpr int kLabelTops[4] = {40, 80, 120, 160};
    constexpr int kBoxTops[4] = {32, 72, 112, 152};
    for (int k = 1; k <= 4; ++k) {
        QLabel* label = new QLabel(this);
        label->setObjectName(QString("Label%1").arg(k));
        label->setTextFormat(Qt::PlainText);
        label->move(kLabelLeft, kLabelTops[k - 1]);
        labels_[k - 1] = label;

        QComboBox* box = new QComboBox(this);
        box->setObjectName(QString("ColorBox%1").arg(k));
        box->setGeometry(kBoxLeft, kBoxTops[k - 1], 145, box->sizeHint().height());
        box->setIconSize(QSize(24, 12));
        for (const analysis::StandardColour& c : analysis::StandardColours) {
            const QColor colour(c.red, c.green, c.blue);
            box->addItem(swatch(colour), QString::fromUtf8(c.name.data(), c.name.size()), colour);
        }
        // `activated` fires for the user's picks only, never for selections
        // the program makes.
        connect(box, &QComboBox::activated, this,
                [this, k](int index) { ColorBoxChange(k, index); });
        boxes_[k - 1] = box;
    }

    button1_ = new QPushButton("OK", this);
    button1_->setObjectName("Button1");
    button1_->setGeometry(136, 208, 75, 25);
    button1_->setDefault(true);
    connect(button1_, &QPushButton::clicked, this, &QDialog::accept);
}

void TLineColor::selectIndex(int channel, int index) {
    QComboBox* box = boxes_.at(channel - 1);
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

std::optional<QColor> TLineColor::selectedColour(int channel) const {
    const QComboBox* box = boxes_.at(channel - 1);
    if (box->currentIndex() < 0)
        return std::nullopt;
    return box->currentData().value<QColor>();
}

void TLineColor::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        centreOnScreen(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TLineColor::FormShow() {
    app::SettingsFile settings(values_.settingsFilePath());
    for (int k = 1; k <= 4; ++k) {
        QLabel* label = labels_[k - 1];
        label->setText(QString::fromStdString(captions_.channelCaption(k)));
        label->adjustSize();
        // A caption with its unit can be wider than the room before the
        // colour list: it then moves left, so that none of it is hidden.
        label->move(std::max(kLabelMinLeft, std::min(kLabelLeft, kBoxLeft - 4 - label->width())),
                    label->y());
        selectIndex(k, settings.readInt(colourKey(k), analysis::kDefaultColourIndex[k - 1]));
    }
}

void TLineColor::ColorBoxChange(int channel, int index) {
    const auto colour = analysis::standardColour(index);
    if (!colour)
        return;
    if (graph_)
        graph_->setSeriesColour(channel, QColor(colour->red, colour->green, colour->blue));
    app::SettingsFile settings(values_.settingsFilePath());
    settings.writeInt(colourKey(channel), index);
}

}  // namespace tarvelo::gui
