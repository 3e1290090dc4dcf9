#include "files/C_WideDialogs.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <utility>

namespace tintavo {

namespace {

TWideOpenDialog::Answerer& answerer() {
    static TWideOpenDialog::Answerer instance;
    return instance;
}

// The monitor of the active window, else of the owner's window, else the primary one.
QRect ChooserMonitor(const QWidget* owner) {
    const QWidget* anchor = QApplication::activeWindow();
    if (anchor == nullptr && owner != nullptr) {
        anchor = owner->window();
    }
    const QScreen* screen = anchor != nullptr ? anchor->screen() : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen != nullptr ? screen->geometry() : QRect();
}

// Moves the dialog once it is laid out and about to appear, leaving its size alone.
class PlaceOnShow : public QObject {
public:
    PlaceOnShow(QWidget* dialog, const QWidget* owner) : QObject(dialog), owner_(owner) {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* dialog = static_cast<QWidget*>(watched);
            const QRect monitor = ChooserMonitor(owner_);
            if (monitor.isValid()) {
                dialog->move(ChooserPosition(monitor, dialog->frameGeometry().size()));
            }
        }
        return false;
    }

private:
    const QWidget* owner_;
};

} // namespace

QPoint ChooserPosition(const QRect& monitor, const QSize& dialog) {
    return {monitor.left() + (monitor.width() - dialog.width()) / 2,
            monitor.top() + (monitor.height() - dialog.height()) / 3};
}

QStringList ChooserNameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        result.append(parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return result;
}

TWideOpenDialog::TWideOpenDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

TWideOpenDialog::~TWideOpenDialog() = default;

void TWideOpenDialog::SetAnswerer(Answerer answer) {
    answerer() = std::move(answer);
}

void TWideOpenDialog::Configure(QFileDialog& dialog) const {
    // Qt's own dialog, so that the placement rule holds on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Name patterns match whatever the case of the extension (photo.JPG, photo.Jpeg).
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QStringList filters = ChooserNameFilters(Filter);
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size()) {
        dialog.selectNameFilter(filters[FilterIndex - 1]);
    }
    if (!InitialDir.isEmpty()) {
        dialog.setDirectory(InitialDir);
    }
    if (!Title.isEmpty()) {
        dialog.setWindowTitle(Title);
    }
    dialog.setDefaultSuffix(DefaultExt);
    if (!FileName.isEmpty()) {
        dialog.selectFile(FileName);
    }
}

bool TWideOpenDialog::Execute() {
    if (answerer()) {
        const std::optional<QString> answer = answerer()(*this);
        if (!answer) {
            return false;
        }
        FileName = *answer;
        return true;
    }
    // The dialog reads its state when it is made and writes it when it goes, through the
    // user-scope settings path; a private state moves that path for the dialog's life.
    if (PrivateState && !stateFolder_) {
        stateFolder_ = std::make_unique<QTemporaryDir>();
    }
    const bool privately = PrivateState && stateFolder_->isValid();
    if (privately) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, stateFolder_->path());
    }
    const auto restorePath = qScopeGuard([privately] {
        if (privately) {
            QSettings::setPath(
                QSettings::NativeFormat, QSettings::UserScope,
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        }
    });
    QString chosen;
    QString nameFilter;
    {
        QFileDialog dialog(owner_ != nullptr ? owner_->window() : nullptr);
        Configure(dialog);
        new PlaceOnShow(&dialog, owner_);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return false;
        }
        chosen = dialog.selectedFiles().constFirst();
        nameFilter = dialog.selectedNameFilter();
    }
    FileName = QDir::toNativeSeparators(chosen);
    const qsizetype index = ChooserNameFilters(Filter).indexOf(nameFilter);
    if (index >= 0) {
        FilterIndex = static_cast<int>(index) + 1;
    }
    return true;
}

} // namespace tintavo
