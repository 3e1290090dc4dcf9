// About box: texts, text storage lookups, banner, links and the Ok / close results.
#include "about/C_TextStorage.h"
#include "about/U_about.h"
#include "common/TestSandbox.h"
#include "platform/ShellLaunch.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <string>
#include <vector>

using namespace tintavo;

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
        QVERIFY(dlg.version_lbl->text().startsWith("Version : "));

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
        QVERIFY(QString::fromStdString(launched[1]).startsWith("https://"));
        QCOMPARE(launched[2], launched[1] + "/forum");
        QVERIFY(!dlg.isVisible());
    }
};

int main(int argc, char* argv[]) {
    tintavo::test::TestSandbox sandbox;
    QApplication app(argc, argv);
    AboutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "about_test.moc"
