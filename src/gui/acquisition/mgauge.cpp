#include "acquisition/mgauge.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include "app/placement.h"
#include "app/uitext.h"

namespace tarvelo::gui {

namespace {

constexpr int kLabelText = 53;  // "Batch memory reading"
constexpr int kClientWidth = 320;
constexpr int kClientHeight = 141;

}  // namespace

Tform_gauge::Tform_gauge(const app::UiText& text, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      text_(text),
      label1_(new QLabel(this)),
      progressBar1_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("form_gauge"));
    setFixedSize(kClientWidth, kClientHeight);

    label1_->setObjectName(QStringLiteral("Label1"));
    label1_->setTextFormat(Qt::PlainText);
    label1_->setAlignment(Qt::AlignCenter);
    label1_->setGeometry(16, 32, kClientWidth - 32, 24);

    // A smooth bar that advances by one record at a time.
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(16, 72, kClientWidth - 32, 20);
    progressBar1_->setTextVisible(false);
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
}

void Tform_gauge::showEvent(QShowEvent* event) {
    FormShow();
    QWidget::showEvent(event);
}

void Tform_gauge::FormShow() {
    label1_->setText(QString::fromStdString(text_[kLabelText]));
}

void Tform_gauge::start(int maximum) {
    progressBar1_->reset();
    progressBar1_->setRange(0, maximum);
    progressBar1_->setValue(0);
    centreOnScreen(*this);
    show();
    raise();
    // Drawn once before the blocking readout; the operator's input waits
    // until the readout has ended.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
}

void Tform_gauge::setPosition(int position) {
    progressBar1_->setValue(position);
    // The event loop does not run during the readout: paint now.
    if (isVisible())
        repaint();
}

void Tform_gauge::finish() {
    hide();
}

}  // namespace tarvelo::gui
