#include "acquisition/mgauge.h"

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/placement.h"
#include "app/program_text.h"
#include "app/uitext.h"

namespace tarvelo::gui {

namespace {

constexpr int kLabelText = 53;   // "Batch memory reading"
constexpr int kCancelText = 24;  // "Cancel"
constexpr int kClientWidth = 320;
constexpr int kClientHeight = 190;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// "h:mm:ss", or "m:ss" below an hour.
QString durationText(qint64 ms) {
    const qint64 seconds = (ms + 999) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

}  // namespace

Tform_gauge::Tform_gauge(const app::UiText& text, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      text_(text),
      label1_(new QLabel(this)),
      progressBar1_(new QProgressBar(this)),
      count_(new QLabel(this)),
      cancel_(new QPushButton(this)) {
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

    count_->setObjectName(QStringLiteral("Count"));
    count_->setTextFormat(Qt::PlainText);
    count_->setAlignment(Qt::AlignCenter);
    // Two lines: the count, and under it the time left, so that the longer
    // translations fit the fixed window.
    count_->setGeometry(16, 98, kClientWidth - 32, 38);

    cancel_->setObjectName(QStringLiteral("Cancel"));
    cancel_->setGeometry((kClientWidth - 100) / 2, 146, 100, 28);
    connect(cancel_, &QPushButton::clicked, this, &Tform_gauge::cancelRequested);
}

void Tform_gauge::showEvent(QShowEvent* event) {
    FormShow();
    QWidget::showEvent(event);
}

void Tform_gauge::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit cancelRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Tform_gauge::FormShow() {
    label1_->setText(QString::fromStdString(text_[kLabelText]));
    cancel_->setText(QString::fromStdString(text_[kCancelText]));
}

void Tform_gauge::start(int maximum, int language) {
    language_ = language;
    progressBar1_->reset();
    progressBar1_->setRange(0, maximum);
    progressBar1_->setValue(0);
    cancel_->setEnabled(true);
    clock_.start();
    showCount();
    centreOnScreen(*this);
    show();
    raise();
    activateWindow();
    cancel_->setFocus();
}

void Tform_gauge::setPosition(int position) {
    progressBar1_->setValue(position);
    showCount();
}

void Tform_gauge::finish() {
    hide();
}

void Tform_gauge::showCount() {
    const int position = progressBar1_->value() < 0 ? 0 : progressBar1_->value();
    const int maximum = progressBar1_->maximum();
    QString text = fromUtf8(app::programText(app::ProgramText::BatchRecordsRead, language_))
                       .arg(position)
                       .arg(maximum);
    // The time left at the pace of the records read so far.
    if (position > 0 && position < maximum) {
        const qint64 left = clock_.elapsed() * (maximum - position) / position;
        text += QLatin1Char('\n') +
                fromUtf8(app::programText(app::ProgramText::BatchTimeLeft, language_))
                    .arg(durationText(left));
    }
    count_->setText(text);
}

}  // namespace tarvelo::gui
