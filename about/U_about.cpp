#include "about/U_about.h"

#include "about/C_TextStorage.h"
#include "platform/ProgramPath.h"
#include "ui/DialogStyle.h"
#include "ui/ErrorReport.h"
#include "update/U_ZelkFct.h"
#include "update/U_Zelk_Lite.h"

#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace tintavo {

namespace {

TAboutDlg* g_instance = nullptr;

QString ProgramVersionText() {
    return QString::fromStdString(GetFileVersionText(platform::ProgramFilePath()));
}

// A control of the form with its name and place.
template <class Control> Control* Named(Control* control, const char* name, const QRect& place) {
    control->setObjectName(name);
    control->setGeometry(place);
    return control;
}

} // namespace

std::string MakerSiteAddress(const std::string& path) {
    return SiteAddress(MakerWebSite(ApplicationTitle), path);
}

TAboutDlg::TAboutDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint) {
    setObjectName("AboutDlg");
    setWindowTitle("About");
    setFixedSize(389, 285);
    // The maker's dialog font at 8 points (11 pixels), the layout being in pixels.
    setFont(DialogFont(11));
    // Group boxes as the layout expects them: the frame line half a line below the box's
    // top with the caption on it, so controls placed from y = 16 fall inside.
    setStyleSheet(GroupBoxStyleSheet());
    setModal(true);

    TS_about = new TTextStorage(this);
    TS_about->Items = {"About", "Application Name :", "Version :", "unused"};
    TS_about->Loaded();

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    const QPixmap banner(":/about/banner.gif");
    Image1->setPixmap(banner);
    Image1->setGeometry(0, 0, banner.isNull() ? 388 : banner.width(),
                        banner.isNull() ? 96 : banner.height());

    all_grp = Named(new QGroupBox(this), "all_grp", {1, 97, 384, 184});

    Application_grp =
        Named(new QGroupBox("Application", all_grp), "Application_grp", {5, 12, 249, 53});

    appname_lbl = new QLabel("Application name :", Application_grp);
    appname_lbl->setObjectName("appname_lbl");
    appname_lbl->move(8, 16);
    version_lbl = new QLabel("Version :", Application_grp);
    version_lbl->setObjectName("version_lbl");
    version_lbl->move(8, 32);

    orvane_grp = Named(new QGroupBox("Orvane", all_grp), "orvane_grp", {260, 12, 113, 117});

    email_btn = Named(new QPushButton("Email", orvane_grp), "email_btn", {8, 16, 97, 28});
    web_btn = Named(new QPushButton("Web Site", orvane_grp), "web_btn", {8, 48, 97, 28});
    forum_btn = Named(new QPushButton("Forums", orvane_grp), "forum_btn", {8, 80, 97, 28});

    ok_btn = Named(new QPushButton("Ok", all_grp), "ok_btn", {274, 139, 81, 33});
    ok_btn->setDefault(true);

    connect(email_btn, &QPushButton::clicked, this, &TAboutDlg::email_btnClick);
    connect(web_btn, &QPushButton::clicked, this, &TAboutDlg::web_btnClick);
    connect(forum_btn, &QPushButton::clicked, this, &TAboutDlg::forum_btnClick);
    connect(ok_btn, &QPushButton::clicked, this, &QDialog::accept);

    g_instance = this;
}

TAboutDlg::~TAboutDlg() {
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

TAboutDlg* TAboutDlg::Instance() {
    return g_instance;
}

void TAboutDlg::RefreshTexts() {
    const QString title = QString::fromLatin1(ApplicationTitle);
    setWindowTitle(TS_about->Lookup("About") + " " + title);
    appname_lbl->setText(TS_about->Lookup("Application Name :") + " " + title);
    appname_lbl->adjustSize();
    version_lbl->setText(TS_about->Lookup("Version :") + " " + ProgramVersionText());
    version_lbl->adjustSize();
}

bool TAboutDlg::ShowAbout() {
    RefreshTexts();
    return exec() == QDialog::Accepted;
}

QString TAboutDlg::EmailAddress() {
    return QString("mailto:") + MakerContactAddress;
}

QString TAboutDlg::WebSiteAddress() {
    return QString::fromStdString(MakerSiteAddress("/"));
}

QString TAboutDlg::ForumAddress() {
    return QString::fromStdString(MakerSiteAddress("/forum"));
}

void TAboutDlg::email_btnClick() {
    launch(EmailAddress());
}

void TAboutDlg::web_btnClick() {
    launch(WebSiteAddress());
}

void TAboutDlg::forum_btnClick() {
    launch(ForumAddress());
}

void TAboutDlg::launch(const QString& address) {
    (void)LaunchFromWindow(this, "", address.toStdString(), "", "", 1);
}

} // namespace tintavo

#include "moc_U_about.cpp"
