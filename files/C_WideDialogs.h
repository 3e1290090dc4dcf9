#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QTemporaryDir;
class QWidget;

namespace tintavo {

// Where the chooser goes on a monitor: centred horizontally and one third of the way down.
// Both divisions round towards zero, so a dialog larger than the monitor starts before it.
QPoint ChooserPosition(const QRect& monitor, const QSize& dialog);

// Turns a "description|patterns|description|patterns" filter into the chooser's name
// filters, e.g. "JPEG|*.jpg;*.jpeg" into "JPEG (*.jpg *.jpeg)".
QStringList ChooserNameFilters(const QString& filter);

// The file chooser shared by loading and export. One instance lives as long as the main
// window, so the last confirmed name is offered again by the next use, whichever it is.
// It asks for no existing file, never prompts before overwriting and returns one name.
class TWideOpenDialog : public QObject {
    Q_OBJECT
public:
    explicit TWideOpenDialog(QWidget* owner);
    ~TWideOpenDialog() override;
    TWideOpenDialog(const TWideOpenDialog&) = delete;
    TWideOpenDialog& operator=(const TWideOpenDialog&) = delete;

    QString Filter;      // "description|pattern;pattern|..."
    int FilterIndex = 1; // 1-based
    QString FileName;    // the last confirmed full path
    QString InitialDir;  // empty: the chooser picks the folder
    QString Title;       // empty: the chooser's own title
    QString DefaultExt;  // empty: a name is returned as typed
    // The chooser's own state (folders visited, view) normally stays in the user's
    // configuration folder for the next run; when set, it lives in a private temporary
    // folder that goes with the chooser, so the profile keeps nothing of it.
    bool PrivateState = false;

    // Shows the chooser modally. True when the user confirmed a name (FileName and
    // FilterIndex then hold it); false on cancel, FileName unchanged.
    bool Execute();

    // Test seam: while set, Execute asks this instead of showing a dialog. It sees the
    // chooser as it would open and answers the confirmed path, or nothing for cancel.
    using Answerer = std::function<std::optional<QString>(const TWideOpenDialog&)>;
    static void SetAnswerer(Answerer answerer);

    // Builds the dialog Execute would show, already configured (used by Execute and tests).
    void Configure(QFileDialog& dialog) const;

private:
    QWidget* owner_;
    std::unique_ptr<QTemporaryDir> stateFolder_;
};

} // namespace tintavo
