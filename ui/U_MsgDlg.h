#pragma once

#include <functional>
#include <string>

class QWidget;

namespace tintavo {

// Button sets of ShowMsg.
enum MsgButtons : int { MsgOk = 0, MsgYesNo = 1, MsgYesNoCancel = 2, MsgOkCancel = 3 };
// Message kinds of ShowMsg: they choose the caption and the icon.
enum MsgKind : int {
    MsgMessage = 0,
    MsgWarning = 1,
    MsgError = 2,
    MsgQuestion = 3,
    MsgInformation = 4
};
// The identifiers of the pressed button (0 when no box could be shown).
enum MsgAnswer : int { IdOk = 1, IdCancel = 2, IdYes = 6, IdNo = 7 };
// The icon a message box shows.
enum class MsgIcon { None, Warning, Error, Question, Information };

// What a message box would show: handed to an installed answerer instead of a real box.
struct MessageBoxRequest {
    QWidget* owner = nullptr;
    std::string caption;
    std::string text;
    int buttons = MsgOk; // the button set actually shown (outside 0..3 becomes MsgOk)
    MsgIcon icon = MsgIcon::None;
};

// Answers a message box without showing it; returns the identifier of the button "pressed".
using MessageBoxAnswerer = std::function<int(const MessageBoxRequest&)>;

// Installs the answerer (an empty one shows real boxes again) and returns the previous one.
// Tests use it to answer boxes and to see what they would have shown.
MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

// Installs an answerer for the life of the object.
class ScopedMessageBoxAnswerer {
public:
    explicit ScopedMessageBoxAnswerer(MessageBoxAnswerer answerer)
        : previous_(SetMessageBoxAnswerer(std::move(answerer))) {}
    ~ScopedMessageBoxAnswerer() { SetMessageBoxAnswerer(std::move(previous_)); }
    ScopedMessageBoxAnswerer(const ScopedMessageBoxAnswerer&) = delete;
    ScopedMessageBoxAnswerer& operator=(const ScopedMessageBoxAnswerer&) = delete;

private:
    MessageBoxAnswerer previous_;
};

// The caption of a message kind: "Message", "Warning", "Error", "Question", "Information";
// empty for a kind outside 0 to 4.
std::string MsgCaption(int kind);
// The icon of a message kind; none for a kind outside 0 to 4.
MsgIcon MsgKindIcon(int kind);

// Shows a modal message box over the owner with the text, the caption and icon of the kind
// and the buttons of the set (only OK for a set outside 0 to 3). Returns the identifier of
// the pressed button: 1 OK, 2 Cancel, 6 Yes, 7 No.
int ShowMsg(QWidget* owner, const std::string& text, int buttons, int kind);

// Shows one box as the request describes it (or hands it to the installed answerer) and
// returns the identifier of the button that closed it. ShowMsg and the application's plain
// boxes both end here.
int ShowMessageBox(const MessageBoxRequest& request);

// The yes/no question: ShowMsg with Yes and No and the kind Question. 6 Yes, 7 No.
int AskQuestion(QWidget* owner, const std::string& text);

// Opens a file or address with the desktop's associated program, environment references
// (%NAME%, $NAME, ${NAME}) in the file text expanded first. A local file that does not exist
// fails at once and shows nothing. The verb, parameters and show command are accepted for
// the callers' sake; the desktop always uses its default action.
[[nodiscard]] bool LaunchFile(const std::string& file, const std::string& parameters = {},
                              const std::string& verb = {}, int showCommand = 1);

// Opens a file or address with the desktop's associated program on behalf of a window. The
// file text is taken as written. A local file that does not exist fails.
[[nodiscard]] bool LaunchFromWindow(QWidget* owner, const std::string& verb,
                                    const std::string& file, const std::string& parameters = {},
                                    const std::string& folder = {}, int showCommand = 1);

// Makes every launch of the process (also the run log's Open) go through the toolkit's
// desktop services instead of xdg-open. The program calls it once after creating the
// application object.
void UseDesktopServicesForLaunching();

} // namespace tintavo
