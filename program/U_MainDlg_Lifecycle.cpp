// The main window's lifecycle: first activation, dropped files, closing, the update
// outcome and the "?" menu commands.

#include "program/U_MainDlg.h"

#include "about/U_about.h"
#include "engine/TBitmap32.h"
#include "files/U_DragDrop.h"
#include "platform/AsciiText.h"
#include "platform/PathUtils.h"
#include "platform/ProgramPath.h"
#include "program/IntegerField.h"
#include "program/TApplication.h"
#include "services/U_Log.h"
#include "services/U_TovikUtils.h"
#include "ui/U_MsgDlg.h"
#include "update/U_ZelkFct.h"
#include "update/U_Zelk_Lite.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QScopeGuard>
#include <QSlider>

#include <string>
#include <utility>

namespace tintavo {

namespace {

std::string Title() {
    return ApplicationTitle;
}

// Delivers the update check's completion through the event loop of the GUI thread.
class EventLoopPoster : public IZelkPoster {
public:
    void Post(std::function<void()> task) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task),
                                  Qt::QueuedConnection);
    }
};

EventLoopPoster& UpdatePoster() {
    static EventLoopPoster poster; // outlives every update-check client
    return poster;
}

bool IsJpegFileName(const std::string& name) {
    const std::string ext = platform::ExtractFileExt(name);
    return platform::EqualsNoCase(ext, ".jpg") || platform::EqualsNoCase(ext, ".jpeg");
}

} // namespace

void TMainDlg::AppEvtActivate() {
    // Unbound first, so that a window shown below cannot run it a second time.
    AppEvt->OnActivate = nullptr;

    const std::string title = Title();
    const std::string program = platform::ProgramFilePath();

    RecordProgramPath(title, program);

    setWindowTitle(QString::fromStdString(title + " v" + GetFileVersionText(program)));

    RunLog =
        std::make_unique<TTovikLog>(GetDataFolder(program, title) + title + ".log", false, 10000);

    RunLog->Add("Starting", LogInfo);
    RunLog->Add(program, LogInfo);
    RunLog->Add(windowTitle().toStdString(), LogInfo);
    RunLog->Add("Windows : " + WindowsVersionText(), LogInfo);
    RunLog->Add("64Bits : " + YesNoText(Is64BitWindows()), LogInfo);
    RunLog->Add("Administrator : " + YesNoText(RunsAsAdministrator()), LogInfo);
    RunLog->Add("Portable : " + YesNoText(!IsInstalled(ProductName)), LogInfo);
    // A picture named on the command line is only reported, never loaded.
    if (CommandLine.size() > 1) {
        RunLog->Add(CommandLine.at(1).toStdString(), LogInfo);
    }

    medium_btnClick();
    r_txt->setText("0");
    g_txt->setText("0");
    b_txt->setText("0");
    dist_r->setValue(40);
    dist_g->setValue(40);
    dist_b->setValue(40);
    diffr_lbl->setText("0");
    diffg_lbl->setText("0");
    diffb_lbl->setText("0");
    RenderLock = false;
    process_btnClick();

    DroppedFiles = std::make_unique<QStringList>();
    RegisterDropTarget(this, DroppedFiles.get(), [this](QObject* sender) { FilesDropped(sender); });

    Updater = std::make_shared<TZelkLite>(
        [this](const std::string& message, int level) { AddToLog(RunLog.get(), message, level); },
        title, UpdatePoster());

    RunLog->Add("Check for update", LogInfo);
    QuietUpdateCheck = true;
    Checkforupdate1Click();
}

void TMainDlg::FilesDropped(QObject* /*Sender*/) {
    if (!DroppedFiles) {
        return;
    }
    // Only the first name counts; the list is empty again after every drop, whatever the
    // load does.
    const auto emptyList = qScopeGuard([this] { DroppedFiles->clear(); });
    if (DroppedFiles->isEmpty()) {
        return;
    }
    const QString first = DroppedFiles->first();
    if (IsJpegFileName(first.toStdString())) {
        LoadPicture(first);
    }
}

bool TMainDlg::FormClose() {
    const std::string title = Title();
    const std::string program = platform::ProgramFilePath();
    const std::string programFolder = platform::ExtractFilePath(program);

    const std::string shadow = CleanVirtualStore(programFolder);
    if (!shadow.empty()) {
        AddToLog(RunLog.get(), "Cleaning VirtualStore : " + shadow, LogVerbose);
    }
    AddToLog(RunLog.get(), "Closing " + title, LogInfo);
    if (IsInstalled(ProductName)) {
        return true;
    }

    const std::string dataFolder = GetDataFolder(program, title);
    // When the data folder fell back to the program folder, the program's own files stay.
    if (dataFolder != programFolder) {
        DeleteTree(dataFolder, "*");
    }
    RemoveCompanyFolder();
    // A settings file that cannot be written throws: the close is abandoned with its message.
    ExportSettings(title, programFolder + "settings.ini");
    DeleteProductKey(title);
    DeleteProgramPath(title);
    DeleteCompanyKeyIfEmpty();
    return true;
}

void TMainDlg::FormDestroy() {
    MaskBitmap.reset();
    RenderBitmap.reset();
    (void)UnregisterDropTarget(this);
    DroppedFiles.reset();
    Updater.reset();
}

void TMainDlg::Checkforupdate1Click() {
    if (!Updater || Updater->Busy()) {
        return;
    }
    Checkforupdate1->setEnabled(false);
    AddToLog(RunLog.get(), "Self update check...", LogInfo);
    Updater->Start(platform::ProgramFilePath(), [this](TZelkLite&) { UpdateCheckDone(); });
}

void TMainDlg::UpdateCheckDone() {
    // The menu item comes back and the next check is a manual one, whatever happens below.
    const auto reenable = qScopeGuard([this] {
        Checkforupdate1->setEnabled(true);
        QuietUpdateCheck = false;
    });
    if (!Updater) {
        return;
    }
    const std::string title = Title();
    if (Updater->NewVersion()) {
        AddToLog(RunLog.get(), "New version of " + title + " is detected", LogInfo);
        if (AskQuestion(this, "A new version of " + title +
                                  " is available. Do you want to download update now ?") == IdYes) {
            (void)LaunchFile(DownloadPageUrl(MakerWebSite(title)), "", "", 1);
        }
    } else if (Updater->ReplyValid()) {
        const std::string upToDate = title + " is already up to date.";
        AddToLog(RunLog.get(), upToDate, LogInfo);
        if (!QuietUpdateCheck) {
            ShowPlainMessage(this, QString::fromStdString(upToDate));
        }
    }
}

void TMainDlg::About1Click() {
    if (TAboutDlg* about = TAboutDlg::Instance()) {
        (void)about->ShowAbout();
    }
}

void TMainDlg::ChangeLog1Click() {
    (void)LaunchFromWindow(this, "", MakerSiteAddress("/bugs/changelog_page.php?project_id=13"), "",
                           "", 1);
}

void TMainDlg::BugreportFeaturerequestKnownissues1Click() {
    (void)LaunchFromWindow(this, "", MakerSiteAddress("/bugs/view_all_bug_page.php?project_id=13"),
                           "", "", 1);
}

void TMainDlg::Openlogfile1Click() {
    if (RunLog) {
        (void)RunLog->Open();
    }
}

} // namespace tintavo
