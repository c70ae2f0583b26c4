#pragma once

#include <QDialog>
#include <QLabel>

class QPushButton;

namespace tarvelo::gui {

class Dialogs;

// A label that reacts to a click like a link: blue, underlined, hand cursor.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, QWidget* parent);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The about box: product, version, operating system, the account it is
// licensed to, and links to the maker's web site and support mail.
class Tabout : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebAddress = "https://www.example.com";
    static constexpr const char* kSupportMail = "support@example.com";

    explicit Tabout(Dialogs& dialogs, QWidget* parent = nullptr);

    QLabel* sysLabel() const { return sys_; }
    QLabel* spLabel() const { return sp_; }
    QLabel* nameLabel() const { return name_; }
    QLabel* orgLabel() const { return org_; }
    QLabel* versionLabel() const { return text1_; }
    LinkLabel* webLink() const { return web_; }
    LinkLabel* mailLink() const { return mail_; }

    // Fills the system, owner and version texts (FormShow; also run on
    // every showing).
    void FormShow();

    // The account's full name: the first field of the password entry's
    // comment, or the login name when that is empty. Empty when unknown.
    static QString accountFullName();

public slots:
    void webClick();
    void mailClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Dialogs& dialogs_;
    QLabel* label6_;
    QLabel* label9_;
    QLabel* sys_;
    QLabel* sp_;
    QLabel* text1_;
    QLabel* name_;
    QLabel* org_;
    LinkLabel* web_;
    LinkLabel* mail_;
    QPushButton* ok_;
};

}  // namespace tarvelo::gui
