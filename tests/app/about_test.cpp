// About box: texts, text storage lookups, banner, links and the Ok / close results.
#include "about/C_TextStorage.h"
#include "about/U_about.h"
#include "common/TestSandbox.h"
#include "platform/Registry.h"
#include "platform/ShellLaunch.h"
#include "services/U_TovikUtils.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <string>
#include <vector>

using namespace tintavo;

// The version the build gives every program file it embeds a version resource into.
#define TINTAVO_TEST_VERSION "1.8.0.16"

class AboutTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Tintavo"); }

    void lookupFollowsBuiltInTexts() {
        TTextStorage ts;
        ts.Items = {"About", "Application Name :", "Version :", "unused"};
        ts.Loaded();
        QCOMPARE(ts.Lookup("About"), QString("About"));
        QCOMPARE(ts.Lookup("about"), QString("About"));     // case is ignored
        QCOMPARE(ts.Lookup("Licence"), QString("Licence")); // unknown text comes back
        QCOMPARE(ts.Lookup("unused"), QString("unused"));

        // Display texts change; the built-in texts stay the keys.
        ts.Items = {"Info", "Nom :", "Version :", "unused"};
        QCOMPARE(ts.Lookup("ABOUT"), QString("Info"));
        QCOMPARE(ts.Lookup("Application Name :"), QString("Nom :"));
        ts.Items[0] = "unused"; // a retired entry falls back to its key
        QCOMPARE(ts.Lookup("about"), QString("about"));

        ts.Items = {"Short"}; // fewer display texts than keys
        QCOMPARE(ts.Lookup("Version :"), QString("Version :"));
    }

    void layoutAndBanner() {
        TAboutDlg dlg;
        QCOMPARE(dlg.size(), QSize(389, 285));
        QVERIFY(!dlg.isVisible());
        QVERIFY(dlg.Image1->pixmap().toImage().size() == QSize(388, 96));
        QCOMPARE(dlg.Image1->geometry(), QRect(0, 0, 388, 96));
        QCOMPARE(dlg.all_grp->geometry(), QRect(1, 97, 384, 184));
        QCOMPARE(dlg.orvane_grp->title(), QString("Orvane"));
        QCOMPARE(dlg.email_btn->text(), QString("Email"));
        QCOMPARE(dlg.web_btn->text(), QString("Web Site"));
        QCOMPARE(dlg.forum_btn->text(), QString("Forums"));
        QCOMPARE(dlg.ok_btn->geometry(), QRect(274, 139, 81, 33));
        QCOMPARE(dlg.appname_lbl->text(), QString("Application name :"));
        QCOMPARE(TAboutDlg::Instance(), &dlg);
    }

    void textsShowTitleAndVersion() {
        TAboutDlg dlg;
        dlg.RefreshTexts();
        QCOMPARE(dlg.windowTitle(), QString("About Tintavo"));
        QCOMPARE(dlg.appname_lbl->text(), QString("Application Name : Tintavo"));
        QCOMPARE(dlg.version_lbl->text(), QString("Version : " TINTAVO_TEST_VERSION));

        dlg.TS_about->Items[0] = "Info";
        dlg.RefreshTexts();
        QCOMPARE(dlg.windowTitle(), QString("Info Tintavo"));
        dlg.TS_about->Items[0] = "unused";
        dlg.RefreshTexts();
        QCOMPARE(dlg.windowTitle(), QString("About Tintavo"));
    }

    void okAnswersTrueAndCloseBoxFalse() {
        TAboutDlg dlg;
        QTimer::singleShot(0, dlg.ok_btn, [&dlg] { dlg.ok_btn->click(); });
        QVERIFY(dlg.ShowAbout());
        QVERIFY(!dlg.isVisible());

        QTimer::singleShot(0, &dlg, [&dlg] { dlg.close(); });
        QVERIFY(!dlg.ShowAbout());

        // Shown again any number of times.
        QTimer::singleShot(0, dlg.ok_btn, [&dlg] { dlg.ok_btn->click(); });
        QVERIFY(dlg.ShowAbout());
    }

    void linksOpenTheMakersPages() {
        TAboutDlg dlg;
        std::vector<std::string> launched;
        platform::ScopedShellOpener opener([&launched](const std::string& target) {
            launched.push_back(target);
            return false; // a failed launch changes nothing
        });
        dlg.email_btn->click();
        dlg.web_btn->click();
        dlg.forum_btn->click();
        QCOMPARE(launched.size(), size_t(3));
        QVERIFY(QString::fromStdString(launched[0]).startsWith("mailto:"));
        QVERIFY(QString::fromStdString(launched[0]).contains('@'));
        QCOMPARE(launched[1], std::string("https://www.orvane.example/"));
        QCOMPARE(launched[2], std::string("https://www.orvane.example/forum"));
        QVERIFY(!dlg.isVisible());

        // The product key's WebSite setting moves every link but the mail address.
        const std::string key = ProductKeyPath("Tintavo");
        QVERIFY(platform::RegCreateKey(key));
        QVERIFY(platform::RegSetValue(
            key, platform::RegValue::String("WebSite", "http://127.0.0.1:9/")));
        launched.clear();
        dlg.email_btn->click();
        dlg.web_btn->click();
        dlg.forum_btn->click();
        QCOMPARE(launched[0], std::string("mailto:contact@orvane.example"));
        QCOMPARE(launched[1], std::string("http://127.0.0.1:9/"));
        QCOMPARE(launched[2], std::string("http://127.0.0.1:9/forum"));
        QVERIFY(platform::RegDeleteKeyTree(key));
    }
};

int main(int argc, char* argv[]) {
    tintavo::test::TestSandbox sandbox;
    QApplication app(argc, argv);
    AboutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "about_test.moc"
