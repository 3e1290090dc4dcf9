// The main window's lifecycle against a sandboxed profile, registry hive and program folder:
// first activation, dropped files, closing, the update outcome and the "?" menu commands.
#include "../update/LoopbackServer.h"
#include "about/U_about.h"
#include "common/TestSandbox.h"
#include "files/C_WideDialogs.h"
#include "platform/ProgramPath.h"
#include "platform/Registry.h"
#include "platform/ShellLaunch.h"
#include "program/SessionEnd.h"
#include "program/U_MainDlg.h"
#include "services/U_TovikUtils.h"
#include "ui/U_MsgDlg.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <csignal>

using namespace tintavo;
namespace fs = std::filesystem;

namespace {

// The version the build embeds into every program file that asks for it.
const std::string kOwnVersion = "1.8.0.16";
const std::string kTitle = "Tintavo";

// The run log's messages, oldest first (the file holds them newest first).
std::vector<std::string> LogMessages(const fs::path& logFile) {
    std::vector<std::string> messages;
    const std::string text = test::readFile(logFile);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        const std::size_t tab = line.find('\t', line.find('\t') + 1);
        messages.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        at = end + 2;
    }
    std::reverse(messages.begin(), messages.end());
    return messages;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Every file below a folder with its content.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) {
            files[fs::relative(it->path(), folder).string()] = test::readFile(it->path());
        }
    }
    return files;
}

QMimeData* FileDrop(const QStringList& names) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& name : names) {
        urls.append(QUrl::fromLocalFile(name));
    }
    data->setUrls(urls);
    return data;
}

void DropOn(QWidget* widget, QMimeData* data) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
}

// One run of the program in a sandbox: HOME and XDG folders, a program folder holding a
// link to this test program (so the version read is the embedded one), the update service
// on loopback, and message boxes and launches recorded instead of shown.
struct Run {
    test::TestSandbox sandbox;
    fs::path appFolder = sandbox.root() / "app";
    fs::path program = appFolder / "tintavo";
    std::optional<platform::ScopedProgramPathOverride> programPath;
    std::vector<MessageBoxRequest> boxes;
    int answer = IdNo;
    std::optional<ScopedMessageBoxAnswerer> answerer;
    std::vector<std::string> launched;
    std::optional<platform::ScopedShellOpener> opener;
    std::string reply = kOwnVersion;
    std::unique_ptr<test::LoopbackServer> server;
    std::unique_ptr<TMainDlg> dlg;

    explicit Run(bool installed, bool serverUp = true) {
        fs::create_directories(appFolder);
        fs::create_symlink(fs::read_symlink("/proc/self/exe"), program);
        programPath.emplace(program.string());
        answerer.emplace([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return request.buttons == MsgOk ? int(IdOk) : answer;
        });
        opener.emplace([this](const std::string& target) {
            launched.push_back(target);
            return true;
        });
        if (installed) {
            test::writeFile(sandbox.dataHome() / "applications/orvane-tintavo.desktop",
                            "[Desktop Entry]\nType=Application\nName=Orvane Tintavo 1.8\n");
        }
        std::string site;
        if (serverUp) {
            server = std::make_unique<test::LoopbackServer>([this](const std::string&) {
                return test::LoopbackServer::Reply("200 OK", reply);
            });
            site = server->base();
        } else {
            site = "http://127.0.0.1:" + std::to_string(test::UnusedPort());
        }
        SetProductValue("WebSite", site);
    }

    ~Run() { dlg.reset(); } // the window goes before the seams it uses

    static void SetProductValue(const std::string& name, const std::string& value) {
        const std::string key = ProductKeyPath(kTitle);
        platform::RegCreateKey(key);
        platform::RegSetValue(key, platform::RegValue::String(name, value));
    }

    fs::path dataFolder() const { return sandbox.dataHome() / "Orvane" / kTitle; }
    fs::path logFile() const { return dataFolder() / (kTitle + ".log"); }
    std::vector<std::string> log() const { return LogMessages(logFile()); }

    // Creates the window and activates the application, then waits for the automatic
    // update check to end.
    TMainDlg& start(const QStringList& commandLine = {"tintavo"}) {
        dlg = std::make_unique<TMainDlg>();
        dlg->CommandLine = commandLine;
        activate();
        waitForUpdateCheck();
        return *dlg;
    }

    void activate() {
        QEvent event(QEvent::ApplicationActivate);
        QApplication::sendEvent(qApp, &event);
    }

    bool waitForUpdateCheck() {
        return QTest::qWaitFor([this] { return dlg->Checkforupdate1->isEnabled(); }, 15000);
    }
};

} // namespace

class LifecycleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Tintavo"); }

    void startUpReportWithoutParameter() {
        Run run(false);
        TMainDlg& dlg = run.start();
        QCOMPARE(dlg.windowTitle(), QString::fromStdString("Tintavo v" + kOwnVersion));

        const std::vector<std::string> expected = {
            "Starting",
            run.program.string(),
            "Tintavo v" + kOwnVersion,
            "Windows : " + WindowsVersionText(),
            "64Bits : " + YesNoText(Is64BitWindows()),
            "Administrator : " + YesNoText(RunsAsAdministrator()),
            "Portable : Yes",
            "Check for update",
            "Self update check...",
            "Tintavo Update self check : Initialization",
        };
        const std::vector<std::string> log = run.log();
        QVERIFY(log.size() >= expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(log[i], expected[i]);
        }

        // The program path is recorded under the company key.
        const auto path =
            platform::RegReadValue(platform::RegRoot::CurrentUser, CompanyKeyPath(), kTitle);
        QVERIFY(path.has_value());
        QCOMPARE(path->data, run.program.string());

        // Starting state of the controls; nothing to render yet.
        for (const QSlider* slider : {dlg.dist_r, dlg.dist_g, dlg.dist_b}) {
            QCOMPARE(slider->value(), 40);
        }
        for (const QLabel* label : {dlg.distr_lbl, dlg.distg_lbl, dlg.distb_lbl}) {
            QCOMPARE(label->text(), QString("40"));
        }
        for (const QLabel* label : {dlg.diffr_lbl, dlg.diffg_lbl, dlg.diffb_lbl}) {
            QCOMPARE(label->text(), QString("0"));
        }
        QVERIFY(!dlg.RenderLock);
        QVERIFY(!dlg.RenderBitmap);
        QVERIFY(dlg.DroppedFiles && dlg.DroppedFiles->isEmpty());
        QVERIFY(dlg.Updater != nullptr);
    }

    // The first parameter is logged; a JPEG file it names loads once the activation is done,
    // anything else (a missing file, a folder, another kind of file) only shows in the log.
    void startUpParameterLoadsAJpegOnly() {
        const auto start = [](Run& run, const QString& parameter) -> TMainDlg& {
            TMainDlg& dlg = run.start({"tintavo", parameter, "second"});
            const std::vector<std::string> log = run.log();
            [&] {
                QCOMPARE(log.at(7), parameter.toStdString());
                QCOMPARE(log.at(8), std::string("Check for update"));
                QVERIFY(!Contains(log, "second"));
            }();
            return dlg;
        };
        {
            Run run(true);
            const QString picture = QString::fromStdString((run.sandbox.root() / "p.JPG").string());
            QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(picture, "JPEG"));
            TMainDlg& dlg = start(run, picture);
            QCOMPARE(run.log().at(6), std::string("Portable : No"));
            QVERIFY(QTest::qWaitFor([&] { return !dlg.WorkFile.isEmpty(); }));
            QVERIFY(Contains(run.log(), "Loading : " + picture.toStdString()));
            QCOMPARE(dlg.filename_txt->text(), picture);
            QCOMPARE(dlg.PictureWidth, 8);
        }
        for (const std::string name : {"missing.jpg", "folder.jpg", "picture.png"}) {
            Run run(true);
            const fs::path path = run.sandbox.root() / name;
            if (name == "folder.jpg") {
                fs::create_directories(path);
            } else if (name == "picture.png") {
                QVERIFY(
                    QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(path), "PNG"));
            }
            TMainDlg& dlg = start(run, QString::fromStdString(path.string()));
            QTest::qWait(20);
            QVERIFY2(dlg.WorkFile.isEmpty(), name.c_str());
            QVERIFY(!fs::exists(run.dataFolder() / "Tintavo.jpg"));
        }
    }

    // Where the desktop never activates the window, it prepares itself shortly after it is
    // shown; an activation later on does not run it again.
    void aWindowThatIsNeverActivatedIsPreparedAnyway() {
        struct NoActivation : QObject {
            bool eventFilter(QObject*, QEvent* event) override {
                return event->type() == QEvent::ApplicationActivate;
            }
        } desktop;
        Run run(false);
        run.dlg = std::make_unique<TMainDlg>();
        qApp->installEventFilter(&desktop); // after the window's own: it sees events first
        run.dlg->show();
        QVERIFY(QTest::qWaitFor([&] { return fs::exists(run.logFile()); }, 5000));
        QVERIFY(run.waitForUpdateCheck());
        QCOMPARE(run.dlg->dist_b->value(), 40);
        qApp->removeEventFilter(&desktop);
        run.activate();
        const std::vector<std::string> log = run.log();
        QCOMPARE(std::count(log.begin(), log.end(), std::string("Starting")), 1);
    }

    // A registry that cannot be written (here its lock file is a folder, which no one can
    // open for writing, the superuser included) does not stop the start-up: the window is
    // prepared and logs the failure, and shows it once.
    void settingsThatCannotBeWrittenDoNotStopTheStartUp() {
        for (const bool withSettingsFile : {true, false}) {
            Run run(false);
            if (withSettingsFile) {
                test::writeFile(run.appFolder / "settings.ini", "[Settings]\r\na=1\r\n");
            }
            const fs::path lock =
                fs::path(platform::UserHivePath()).parent_path() / "registry.lock";
            fs::remove(lock);
            fs::create_directory(lock);
            TMainDlg& dlg = run.start();
            const std::string first = withSettingsFile ? "a" : kTitle;
            QCOMPARE(run.boxes.size(), std::size_t(1));
            QCOMPARE(run.boxes[0].text, "Echec à la définition des données pour '" + first + "'");
            QCOMPARE(run.boxes[0].icon, MsgIcon::Error);
            QVERIFY(dlg.instructions_lbl->text().startsWith("\r\nStep 1"));
            const std::vector<std::string> log = run.log();
            QCOMPARE(log.at(0), std::string("Starting"));
            QVERIFY(Contains(log, "Echec à la définition des données pour '" + kTitle + "'"));
            QCOMPARE(Contains(log, "Echec à la définition des données pour 'a'"), withSettingsFile);
            QVERIFY(Contains(log, "Check for update"));
            QCOMPARE(dlg.distb_lbl->text(), QString("40"));
            QVERIFY(dlg.DroppedFiles != nullptr);
            QVERIFY(dlg.Updater != nullptr);
            QVERIFY(dlg.windowTitle().startsWith("Tintavo v"));
        }
    }

    void activationRunsOnce() {
        Run run(false);
        run.start();
        const std::size_t lines = run.log().size();
        run.activate();
        run.activate();
        QTest::qWait(50);
        const std::vector<std::string> log = run.log();
        QCOMPARE(log.size(), lines);
        QCOMPARE(std::count(log.begin(), log.end(), std::string("Starting")), 1);
    }

    void dropsLoadOnlyAFirstJpeg() {
        Run run(false);
        TMainDlg& dlg = run.start();
        const fs::path folder = run.sandbox.root() / "pictures";
        fs::create_directories(folder);
        const QString upper = QString::fromStdString((folder / "UPPER.JPG").string());
        const QString mixed = QString::fromStdString((folder / "mixed.JPeg").string());
        const QString png = QString::fromStdString((folder / "picture.png").string());
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(upper, "JPEG"));
        QVERIFY(picture.save(mixed, "JPEG"));
        QVERIFY(picture.save(png, "PNG"));

        std::unique_ptr<QMimeData> data(FileDrop({png, upper}));
        DropOn(&dlg, data.get());
        QVERIFY(dlg.WorkFile.isEmpty());
        QVERIFY(dlg.DroppedFiles->isEmpty());
        QVERIFY(!Contains(run.log(), "Loading : " + upper.toStdString()));

        data.reset(FileDrop({upper, png}));
        DropOn(dlg.filename_txt, data.get()); // a drop on the edit reaches the window
        QVERIFY(dlg.DroppedFiles->isEmpty());
        QVERIFY(Contains(run.log(), "Loading : " + upper.toStdString()));
        QVERIFY(fs::exists(run.dataFolder() / "Tintavo.jpg"));
        QCOMPARE(dlg.filename_txt->text(), upper);

        data.reset(FileDrop({mixed}));
        DropOn(&dlg, data.get());
        QVERIFY(Contains(run.log(), "Loading : " + mixed.toStdString()));
        QVERIFY(dlg.DroppedFiles->isEmpty());

        // After destruction the window takes no more drops.
        dlg.FormDestroy();
        QVERIFY(!dlg.DroppedFiles);
        const std::size_t lines = run.log().size();
        data.reset(FileDrop({upper}));
        DropOn(&dlg, data.get());
        QCOMPARE(run.log().size(), lines);
    }

    void portableCloseLeavesOnlyTheSettingsFile() {
        Run run(false);
        Run::SetProductValue("Colour", "red");
        platform::RegSetValue(ProductKeyPath(kTitle), platform::RegValue::DWord("Count", 3));
        // Another program of the maker, whose entries must survive.
        platform::RegCreateKey(ProductKeyPath("Other"));
        platform::RegSetValue(ProductKeyPath("Other"), platform::RegValue::String("a", "b"));
        platform::RegSetValue(CompanyKeyPath(), platform::RegValue::String("Other", "/opt/o"));
        test::writeFile(run.sandbox.dataHome() / "Orvane/Other/Other.log", "kept");

        TMainDlg& dlg = run.start();
        dlg.show();
        QVERIFY(dlg.close());

        QVERIFY(!fs::exists(run.dataFolder()));
        QCOMPARE(test::readFile(run.sandbox.dataHome() / "Orvane/Other/Other.log"),
                 std::string("kept"));
        const std::string ini = test::readFile(run.appFolder / "settings.ini");
        QVERIFY(ini.find("[Settings]") != std::string::npos);
        QVERIFY(ini.find("Colour=red") != std::string::npos);
        QVERIFY(ini.find("WebSite=" + run.server->base()) != std::string::npos);
        QVERIFY(ini.find("Count") == std::string::npos); // only string values travel

        QVERIFY(!platform::RegKeyExists(platform::RegRoot::CurrentUser, ProductKeyPath(kTitle)));
        QVERIFY(!platform::RegReadValue(platform::RegRoot::CurrentUser, CompanyKeyPath(), kTitle));
        QVERIFY(platform::RegReadValue(platform::RegRoot::CurrentUser, CompanyKeyPath(), "Other"));
        QVERIFY(
            platform::RegReadValue(platform::RegRoot::CurrentUser, ProductKeyPath("Other"), "a"));
        QVERIFY(run.boxes.empty());
    }

    void portableCloseAloneLeavesNoTrace() {
        Run run(false);
        TMainDlg& dlg = run.start();
        dlg.show();
        QVERIFY(dlg.close());
        QVERIFY(!fs::exists(run.sandbox.dataHome() / "Orvane"));
        QVERIFY(!fs::exists(platform::UserHivePath()));
        QVERIFY(fs::exists(run.appFolder / "settings.ini"));
    }

    void portableCloseKeepsTheWindowWhenTheSettingsCannotBeWritten() {
        Run run(false);
        fs::create_directories(run.appFolder / "settings.ini"); // a folder cannot be written
        TMainDlg& dlg = run.start();
        dlg.show();
        QVERIFY(!dlg.close());
        QVERIFY(dlg.isVisible());
        QCOMPARE(run.boxes.size(), std::size_t(1));
        QCOMPARE(run.boxes[0].text,
                 "Impossible d'écrire dans " + (run.appFolder / "settings.ini").string() + ".");
        // The steps after the export did not run.
        QVERIFY(platform::RegKeyExists(platform::RegRoot::CurrentUser, ProductKeyPath(kTitle)));

        // The next attempt runs every step again.
        fs::remove(run.appFolder / "settings.ini");
        QVERIFY(dlg.close());
        QVERIFY(!platform::RegKeyExists(platform::RegRoot::CurrentUser, ProductKeyPath(kTitle)));
    }

    // The program folder holds the working files when no data folder can be made: the close
    // takes the run's three files away and leaves everything else there.
    void portableCloseSparesAProgramFolderUsedAsDataFolder() {
        Run run(false);
        test::writeFile(run.sandbox.root() / "not-a-folder", "x");
        run.sandbox.setEnv("XDG_DATA_HOME", (run.sandbox.root() / "not-a-folder").string());
        test::writeFile(run.appFolder / "readme.txt", "mine");
        TMainDlg& dlg = run.start();
        QVERIFY(fs::exists(run.appFolder / "Tintavo.log"));
        const fs::path picture = run.sandbox.root() / "in.jpg";
        const fs::path exported = run.sandbox.root() / "out.jpg";
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(picture), "JPEG"));
        dlg.LoadPicture(QString::fromStdString(picture.string()));
        TWideOpenDialog::SetAnswerer(
            [&](const TWideOpenDialog&) { return QString::fromStdString(exported.string()); });
        const auto noAnswerer = qScopeGuard([] { TWideOpenDialog::SetAnswerer({}); });
        dlg.save_btnClick();
        for (const char* name : {"Tintavo.jpg", "Tintavo_save.jpg", "Tintavo.log"}) {
            QVERIFY2(fs::exists(run.appFolder / name), name);
        }
        dlg.show();
        QVERIFY(dlg.close());
        for (const char* name : {"Tintavo.jpg", "Tintavo_save.jpg", "Tintavo.log"}) {
            QVERIFY2(!fs::exists(run.appFolder / name), name);
        }
        QCOMPARE(test::readFile(run.appFolder / "readme.txt"), std::string("mine"));
        QVERIFY(fs::exists(run.program));
        QVERIFY(fs::exists(run.appFolder / "settings.ini"));
        QVERIFY(fs::exists(exported));
    }

    // SIGTERM, SIGHUP and SIGINT close the window the normal way, also while the chooser is
    // open; a portable copy then leaves nothing in the home folder, not even the chooser's
    // state.
    void sessionEndSignalsCloseTheWindowNormally() {
        constexpr std::array<int, 3> watched = {SIGTERM, SIGHUP, SIGINT};
        std::array<struct sigaction, watched.size()> before{};
        for (std::size_t i = 0; i < watched.size(); ++i) {
            ::sigaction(watched[i], nullptr, &before[i]);
        }
        {
            Run run(false);
            // The chooser's state would go to this very home.
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QString::fromStdString(run.sandbox.configHome().string()));
            const auto home = [&] {
                std::set<std::string> files;
                for (const auto& [name, content] : Snapshot(run.sandbox.home())) {
                    files.insert(name);
                }
                return files;
            };
            const std::set<std::string> atStart = home();
            TMainDlg& dlg = run.start();
            const TSessionEnd sessionEnd(&dlg);
            dlg.show();
            bool chooserShown = false;
            QTimer::singleShot(100, [&] {
                chooserShown = QApplication::activeModalWidget() != nullptr;
                ::raise(SIGTERM);
            });
            dlg.load_btnClick(); // the real chooser, until the signal closes it
            QVERIFY(chooserShown);
            QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }, 5000));
            QVERIFY(!fs::exists(run.dataFolder()));
            QVERIFY(
                !platform::RegKeyExists(platform::RegRoot::CurrentUser, ProductKeyPath(kTitle)));
            for (const std::string& file : home()) {
                QVERIFY2(atStart.count(file) == 1, file.c_str());
            }
        }
        for (const int number : {SIGHUP, SIGINT}) {
            Run run(true);
            TMainDlg& dlg = run.start();
            const TSessionEnd sessionEnd(&dlg);
            dlg.show();
            ::raise(number);
            QVERIFY(QTest::qWaitFor([&] { return !dlg.isVisible(); }, 5000));
            QCOMPARE(run.log().back(), std::string("Closing Tintavo"));
        }
        // The signals are the process's own again.
        for (std::size_t i = 0; i < watched.size(); ++i) {
            struct sigaction after {};
            ::sigaction(watched[i], nullptr, &after);
            QVERIFY(after.sa_handler == before[i].sa_handler);
        }
    }

    void installedCloseChangesNothingButTheLog() {
        Run run(true);
        TMainDlg& dlg = run.start();
        auto before = Snapshot(run.sandbox.root());
        dlg.show();
        dlg.Close1->trigger(); // Ctrl+Q closes exactly as the close box does
        QVERIFY(!dlg.isVisible());
        auto after = Snapshot(run.sandbox.root());
        const std::string logKey = fs::relative(run.logFile(), run.sandbox.root()).string();
        QVERIFY(after.count(logKey) == 1);
        before.erase(logKey);
        after.erase(logKey);
        QVERIFY(before == after);
        QCOMPARE(run.log().back(), std::string("Closing Tintavo"));
        QVERIFY(!fs::exists(run.appFolder / "settings.ini"));
    }

    void updateOutcomes_data() {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("serverUp");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("asked");
        QTest::addRow("new version")
            << "1.8.0.17" << true << "New version of Tintavo is detected" << true;
        QTest::addRow("up to date")
            << "1.8.0.16" << true << "Tintavo is already up to date." << false;
        QTest::addRow("line break cuts the last part")
            << "1.8.0.17\r\n"
            << true << "Tintavo is already up to date." << false;
        QTest::addRow("invalid reply")
            << "<html>oops</html>" << true << "Tintavo Update self check : Server replied 0.0.0.0"
            << false;
        QTest::addRow("unreachable")
            << "" << false << "Tintavo Update self check : Server error (" << false;
    }

    // The automatic check at start-up: a new version is asked about, anything else is only
    // logged, and the menu item comes back in every case.
    void updateOutcomes() {
        QFETCH(QString, reply);
        QFETCH(bool, serverUp);
        QFETCH(QString, logged);
        QFETCH(bool, asked);
        Run run(false, serverUp);
        run.reply = reply.toStdString();
        TMainDlg& dlg = run.start();
        QVERIFY(dlg.Checkforupdate1->isEnabled());
        QVERIFY(!dlg.QuietUpdateCheck);
        const std::vector<std::string> log = run.log();
        QVERIFY2(std::any_of(log.begin(), log.end(),
                             [&](const std::string& line) {
                                 return line.rfind(logged.toStdString(), 0) == 0;
                             }),
                 qPrintable(logged));
        if (asked) {
            QCOMPARE(run.boxes.size(), std::size_t(1));
            QCOMPARE(run.boxes[0].text, std::string("A new version of Tintavo is available. Do "
                                                    "you want to download update now ?"));
            QCOMPARE(run.boxes[0].caption, std::string("Question"));
            QCOMPARE(run.boxes[0].buttons, int(MsgYesNo));
            QVERIFY(run.launched.empty()); // answered No
        } else {
            QVERIFY(run.boxes.empty());
        }
        if (!serverUp) {
            QVERIFY(log.back().rfind("Tintavo Update self check : Server error (", 0) == 0);
        }
    }

    void manualChecksShowTheOutcome() {
        Run run(false);
        TMainDlg& dlg = run.start();
        QVERIFY(run.boxes.empty()); // the automatic check stays quiet

        dlg.Checkforupdate1->trigger(); // Ctrl+G
        QVERIFY(!dlg.Checkforupdate1->isEnabled());
        dlg.Checkforupdate1Click(); // a running check is not started twice
        QVERIFY(run.waitForUpdateCheck());
        QCOMPARE(run.boxes.size(), std::size_t(1));
        QCOMPARE(run.boxes[0].text, std::string("Tintavo is already up to date."));
        QCOMPARE(run.boxes[0].caption, std::string("Tintavo"));
        QCOMPARE(run.boxes[0].icon, MsgIcon::None);
        QCOMPARE(run.server->requests().size(), std::size_t(2));

        // A newer version, answered Yes, opens the download page.
        run.reply = "1.9";
        run.answer = IdYes;
        dlg.Checkforupdate1->trigger();
        QVERIFY(run.waitForUpdateCheck());
        QCOMPARE(run.boxes.size(), std::size_t(2));
        QCOMPARE(run.launched, std::vector<std::string>{run.server->base() + "/?download"});

        // A failed manual check shows nothing.
        run.reply = "";
        dlg.Checkforupdate1->trigger();
        QVERIFY(run.waitForUpdateCheck());
        QCOMPARE(run.boxes.size(), std::size_t(2));
    }

    void menuCommandsLaunchTheirPages() {
        Run run(false);
        TMainDlg& dlg = run.start();
        const std::string site = run.server->base();
        dlg.ChangeLog1->trigger();
        dlg.BugreportFeaturerequestKnownissues1->trigger();
        dlg.Openlogfile1->trigger();
        const std::vector<std::string> expected = {
            site + "/bugs/changelog_page.php?project_id=13",
            site + "/bugs/view_all_bug_page.php?project_id=13",
            run.logFile().string(),
        };
        QCOMPARE(run.launched, expected);

        TAboutDlg about(&dlg);
        bool shown = false;
        QTimer::singleShot(0, &about, [&] {
            shown = about.isVisible();
            about.ok_btn->click();
        });
        dlg.About1->trigger();
        QVERIFY(shown);
        QCOMPARE(about.windowTitle(), QString("About Tintavo"));
    }
};

int main(int argc, char* argv[]) {
    test::TestSandbox sandbox;
    QApplication app(argc, argv);
    LifecycleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "lifecycle_test.moc"
