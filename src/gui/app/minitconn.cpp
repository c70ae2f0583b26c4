#include "app/minitconn.h"

#include <QApplication>
#include <QLabel>

#include "app/placement.h"

namespace tarvelo::gui {

TInitConnection::TInitConnection(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      label_(new QLabel(QStringLiteral("Connection to device will be established..."), this)) {
    setObjectName(QStringLiteral("InitConnection"));
    setWindowTitle(QStringLiteral("Connection"));
    setFixedSize(281, 126);
    setModal(false);
    label_->setObjectName(QStringLiteral("Label1"));
    label_->move(40, 56);
    label_->adjustSize();
}

void TInitConnection::showPainted() {
    centreOnScreen(*this);
    show();
    raise();
    repaint();
    QCoreApplication::processEvents();
}

}  // namespace tarvelo::gui
