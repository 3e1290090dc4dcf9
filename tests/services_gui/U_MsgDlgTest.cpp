#include "ui/U_MsgDlg.h"
#include "common/TestSandbox.h"
#include "platform/ShellLaunch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <vector>

using namespace tintavo;

class MsgDlgTest : public QObject {
    Q_OBJECT

private:
    // Presses a button of the next message box once it is shown, and notes what it showed.
    void pressWhenShown(QMessageBox::StandardButton button) {
        QTimer::singleShot(0, this, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shownTitle_ = box->windowTitle();
            shownIcon_ = box->icon();
            shownButtons_ = box->standardButtons();
            box->button(button)->click();
        });
    }

    QString shownTitle_;
    QMessageBox::Icon shownIcon_ = QMessageBox::NoIcon;
    QMessageBox::StandardButtons shownButtons_;

private slots:
    void captionsAndIconsFollowTheKind() {
        std::vector<MessageBoxRequest> seen;
        ScopedMessageBoxAnswerer answerer([&](const MessageBoxRequest& request) {
            seen.push_back(request);
            return IdOk;
        });
        QCOMPARE(ShowMsg(nullptr, "hello", MsgOk, MsgWarning), int(IdOk));
        QCOMPARE(ShowMsg(nullptr, "plain", MsgOk, MsgMessage), int(IdOk));
        ShowMsg(nullptr, "bad", 9, 12);
        QCOMPARE(seen.size(), std::size_t(3));
        QCOMPARE(seen[0].caption, std::string("Warning"));
        QVERIFY(seen[0].icon == MsgIcon::Warning);
        QCOMPARE(seen[0].text, std::string("hello"));
        QCOMPARE(seen[1].caption, std::string("Message"));
        QVERIFY(seen[1].icon == MsgIcon::None);
        QCOMPARE(seen[2].caption, std::string(""));
        QVERIFY(seen[2].icon == MsgIcon::None);
        QCOMPARE(seen[2].buttons, int(MsgOk));
        QCOMPARE(MsgCaption(MsgError), std::string("Error"));
        QCOMPARE(MsgCaption(MsgInformation), std::string("Information"));
    }

    void askQuestionIsYesNoWithTheQuestionKind() {
        MessageBoxRequest seen;
        ScopedMessageBoxAnswerer answerer([&](const MessageBoxRequest& request) {
            seen = request;
            return IdNo;
        });
        QCOMPARE(AskQuestion(nullptr, "Download?"), int(IdNo));
        QCOMPARE(seen.caption, std::string("Question"));
        QCOMPARE(seen.buttons, int(MsgYesNo));
        QVERIFY(seen.icon == MsgIcon::Question);
    }

    void realBoxesShowAndAnswerWithThePlatformIdentifiers() {
        pressWhenShown(QMessageBox::Yes);
        QCOMPARE(AskQuestion(nullptr, "Really?"), int(IdYes));
        QCOMPARE(shownTitle_, QString("Question"));
        QCOMPARE(shownIcon_, QMessageBox::Question);
        QCOMPARE(shownButtons_, QMessageBox::Yes | QMessageBox::No);

        pressWhenShown(QMessageBox::No);
        QCOMPARE(AskQuestion(nullptr, "Really?"), int(IdNo));

        pressWhenShown(QMessageBox::Cancel);
        QCOMPARE(ShowMsg(nullptr, "x", MsgYesNoCancel, MsgError), int(IdCancel));
        QCOMPARE(shownTitle_, QString("Error"));
        QCOMPARE(shownIcon_, QMessageBox::Critical);

        pressWhenShown(QMessageBox::Ok);
        QCOMPARE(ShowMsg(nullptr, "x", MsgOkCancel, MsgInformation), int(IdOk));
        QCOMPARE(shownButtons_, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(shownIcon_, QMessageBox::Information);

        pressWhenShown(QMessageBox::Ok);
        QCOMPARE(ShowMsg(nullptr, "x", 17, MsgMessage), int(IdOk));
        QCOMPARE(shownButtons_, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(shownIcon_, QMessageBox::NoIcon);
    }

    void launchingExpandsReferencesAndRefusesMissingFiles() {
        tintavo::test::TestSandbox sandbox;
        std::vector<std::string> opened;
        platform::ScopedShellOpener opener([&](const std::string& target) {
            opened.push_back(target);
            return true;
        });
        tintavo::test::writeFile(sandbox.root() / "Tintavo.log", "x");
        sandbox.setEnv("TEMP", sandbox.root().string());
        QVERIFY(LaunchFile("%TEMP%/Tintavo.log"));
        QVERIFY(!LaunchFile("%TEMP%/missing.log"));
        QVERIFY(LaunchFile("https://www.orvane.example/?download"));
        QVERIFY(LaunchFromWindow(nullptr, "", "https://www.orvane.example/forum", "", "", 1));
        // This form takes the file as written.
        QVERIFY(!LaunchFromWindow(nullptr, "", "%TEMP%/Tintavo.log", "", "", 1));
        QCOMPARE(opened.size(), std::size_t(3));
        QCOMPARE(opened[0], (sandbox.root() / "Tintavo.log").string());
        QCOMPARE(opened[1], std::string("https://www.orvane.example/?download"));
    }
};

QTEST_MAIN(MsgDlgTest)
#include "U_MsgDlgTest.moc"
