#include "app/mabout.h"

#include <pwd.h>
#include <unistd.h>

#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QSysInfo>

#include "app/dialogs.h"
#include "app/fit_controls.h"
#include "app/placement.h"
#include "app/resources.h"

namespace tarvelo::gui {

namespace {

const QColor kBrandColour(65, 120, 184);
constexpr int kClientWidth = 385;
constexpr int kRightMargin = 16;

QLabel* plainLabel(const QString& text, int x, int y, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    // Plain text and no buddy: an "&" in a name is shown as itself.
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QPixmap logoPixmap() {
    QPixmap pixmap(124, 31);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/logo.svg"));
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

}  // namespace

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    setPalette(palette);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

Tabout::Tabout(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs) {
    initResources();
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("KORVANTE Mirelda"));
    setFixedSize(kClientWidth, 286);
    setModal(true);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(16, 16, 124, 31);
    image->setPixmap(logoPixmap());

    label6_ = plainLabel(QStringLiteral("TARVELO II"), 160, 8, this);
    QFont big(QStringLiteral("Arial"));
    big.setPixelSize(32);
    big.setBold(true);
    label6_->setFont(big);
    label6_->adjustSize();
    label9_ = plainLabel(QStringLiteral("\u00ae"), 368, 8, this);
    QFont small(QStringLiteral("Arial"));
    small.setPixelSize(16);
    label9_->setFont(small);
    label9_->adjustSize();

    plainLabel(QStringLiteral("Copyright \u00a9 KORVANTE GMBH. Alle Rechte vorbehalten."), 16, 96,
               this);
    sys_ = plainLabel(QString(), 16, 120, this);
    sp_ = plainLabel(QString(), 16, 136, this);
    plainLabel(QStringLiteral("Entwickelt mit Qt %1").arg(QString::fromLatin1(qVersion())), 16, 168,
               this);
    text1_ = plainLabel(QStringLiteral("Programm-Version: "), 16, 192, this);
    plainLabel(QStringLiteral("Licencee:"), 16, 216, this);
    name_ = plainLabel(QStringLiteral("Name"), 16, 240, this);
    org_ = plainLabel(QStringLiteral("Organisation"), 16, 256, this);
    plainLabel(QStringLiteral("Internet:"), 232, 224, this);

    web_ = new LinkLabel(QStringLiteral("KORVANTE GMBH Website"), this);
    web_->move(232, 240);
    web_->adjustSize();
    web_->setToolTip(QStringLiteral("KORVANTE GMBH Website aufrufen"));
    mail_ = new LinkLabel(QStringLiteral("EMail (%1)").arg(QLatin1String(kSupportMail)), this);
    mail_->move(232, 256);
    mail_->adjustSize();
    mail_->setToolTip(QStringLiteral("EMail an Support senden"));
    connect(web_, &LinkLabel::clicked, this, &Tabout::webClick);
    connect(mail_, &LinkLabel::clicked, this, &Tabout::mailClick);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setGeometry(288, 144, 73, 25);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

QString Tabout::accountFullName() {
    const passwd* entry = getpwuid(getuid());
    if (!entry)
        return {};
    QString full = QString::fromLocal8Bit(entry->pw_gecos ? entry->pw_gecos : "");
    full = full.section(QLatin1Char(','), 0, 0).trimmed();
    if (full.isEmpty())
        full = QString::fromLocal8Bit(entry->pw_name ? entry->pw_name : "");
    return full;
}

void Tabout::FormShow() {
    for (QLabel* label : {label6_, label9_}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, kBrandColour);
        label->setPalette(palette);
    }
    // The operating system's name and version, and the kernel it runs on.
    sys_->setText(QSysInfo::prettyProductName() + QStringLiteral(", Version ") +
                  QSysInfo::productVersion());
    sys_->adjustSize();
    sp_->setText(QSysInfo::kernelType() + QLatin1Char(' ') + QSysInfo::kernelVersion());
    sp_->adjustSize();
    // The account's owner; Linux keeps no organisation, so that label keeps
    // its default.
    const QString owner = accountFullName();
    if (!owner.isEmpty()) {
        name_->setText(owner);
        name_->adjustSize();
    }
    text1_->setText(QStringLiteral("Programm-Version: ") + QStringLiteral(TARVELO_VERSION));
    text1_->adjustSize();
    // The box keeps its size unless a text (a long system name, the mail
    // link in a wide font) would run past its edge.
    growToFit(*this, kClientWidth, kRightMargin);
}

void Tabout::showEvent(QShowEvent* event) {
    FormShow();
    centreOnScreen(*this);
    QDialog::showEvent(event);
}

void Tabout::webClick() {
    dialogs_.openUrl(QUrl(QString::fromLatin1(kWebAddress)));
}

void Tabout::mailClick() {
    dialogs_.openUrl(QUrl(QStringLiteral("mailto:") + QLatin1String(kSupportMail)));
}

}  // namespace tarvelo::gui
