// The main window's picture files: the Load command, loading a picture as the working copy,
// and the export of the rendered picture.

#include "engine/JpegWriter.h"
#include "files/C_WideDialogs.h"
#include "files/PictureFiles.h"
#include "program/SelectionHistory.h"
#include "program/TApplication.h"
#include "program/U_MainDlg.h"
#include "services/U_Log.h"
#include "ui/U_MsgDlg.h"

#include <QFile>
#include <QLineEdit>
#include <QScopeGuard>
#include <QSlider>

#include <filesystem>
#include <system_error>

namespace tintavo {

namespace {

std::filesystem::path ToPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

void TMainDlg::load_btnClick() {
    if (WOD->Execute()) {
        LoadPicture(WOD->FileName);
    }
}

void TMainDlg::LoadPicture(const QString& Path) {
    // A new picture starts a new history.
    const auto fresh = qScopeGuard([this] { History->Clear(); });
    Log(QStringLiteral("Loading : ") + Path, LogInfo);
    // Touch-up strokes belong to the picture they were painted on.
    ForgetStrokes();
    filename_txt->setText(Path);
    WorkFile = DataFilePath(QStringLiteral(".jpg"));
    // Picking the working copy itself must not delete the very file about to be copied.
    std::error_code ignored;
    if (!std::filesystem::equivalent(ToPath(Path), ToPath(WorkFile), ignored)) {
        if (QFile::exists(WorkFile)) {
            QFile::remove(WorkFile);
        }
        // A failed copy is found out by the render pass, which then finds no working copy.
        std::filesystem::copy_file(ToPath(Path), ToPath(WorkFile),
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    }
    // Each slider that really moves renders once with the thresholds as they stand then.
    dist_r->setValue(40);
    dist_g->setValue(40);
    dist_b->setValue(40);
    ShowMask = false;
    process_btnClick();
}

void TMainDlg::save_btnClick() {
    if (!WOD->Execute() || !RenderBitmap) {
        return;
    }
    const QString target = ExportFileName(WOD->FileName);
    if (QFile::exists(target)) {
        const QString question =
            target + QStringLiteral(" already exists.\r\nDo you want to replace it ?");
        if (AskQuestion(this, question.toStdString()) != IdYes) {
            return;
        }
    }
    Log(QStringLiteral("Exporting to : ") + target, LogInfo);

    const QString temporary = DataFilePath(QStringLiteral("_save.jpg"));
    if (QFile::exists(temporary)) {
        QFile::remove(temporary);
    }
    // A failure to write the temporary file reaches the general error report. The render is
    // built at full resolution for the export only.
    BuildResults();
    {
        const auto release = qScopeGuard([this] { ReleaseResults(); });
        WriteJpegFile(*RenderBitmap, ToPath(temporary));
    }

    const QString failure = CopyExportFile(temporary, target);
    if (!failure.isEmpty()) {
        const QString message =
            QStringLiteral("Unable to save ") + target + QStringLiteral(" : ") + failure;
        Log(message, LogError);
        ShowMsg(this, message.toStdString(), MsgOk, MsgError);
    }
}

} // namespace tintavo
