#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tintavo {

class TTextStorage;

// An address on the maker's web site (its base from MakerWebSite): the path, which begins
// with "/", after the base without its trailing "/".
std::string MakerSiteAddress(const std::string& path);

// The About box: the maker's banner, the application's name and version, and three buttons
// that lead to the maker (mail, web site, forums). Created once, hidden, at start-up and
// shown modally any number of times.
class TAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit TAboutDlg(QWidget* owner = nullptr);
    ~TAboutDlg() override;

    // The box created at start-up, or nullptr when none exists.
    static TAboutDlg* Instance();

    // Refreshes the texts, shows the box modally and answers true when it was closed with Ok.
    bool ShowAbout();

    // Puts the texts of the box into their current state without showing it.
    void RefreshTexts();

    // The maker's addresses the three buttons open.
    static QString EmailAddress();
    static QString WebSiteAddress();
    static QString ForumAddress();

    TTextStorage* TS_about = nullptr;
    QLabel* Image1 = nullptr;
    QGroupBox* all_grp = nullptr;
    QGroupBox* Application_grp = nullptr;
    QLabel* appname_lbl = nullptr;
    QLabel* version_lbl = nullptr;
    QGroupBox* orvane_grp = nullptr;
    QPushButton* email_btn = nullptr;
    QPushButton* web_btn = nullptr;
    QPushButton* forum_btn = nullptr;
    QPushButton* ok_btn = nullptr;

public slots:
    void email_btnClick();
    void web_btnClick();
    void forum_btnClick();

private:
    void launch(const QString& address);
};

} // namespace tintavo
