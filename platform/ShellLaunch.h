#pragma once

#include <functional>
#include <string>

namespace tintavo::platform {

// Hands a target (a local file or an address such as https:// or mailto:) to the program the
// desktop associates with it. Returns true when the request was handed over.
using ShellOpener = std::function<bool(const std::string& target)>;

// True when the target names a local file: no address scheme, or the file: scheme.
bool IsLocalTarget(const std::string& target);

// The file system path of a local target (a file: address decoded); the target itself
// otherwise.
std::string LocalPathOf(const std::string& target);

// Opens the target with the desktop's associated program. A local target that does not exist
// fails at once, without asking the desktop and without any dialog. Goes through the opener
// installed with SetShellOpener, else through xdg-open.
[[nodiscard]] bool ShellOpen(const std::string& target);

// Installs the opener ShellOpen hands its targets to (an empty one restores xdg-open) and
// returns the previous one. The window installs the toolkit's opener; tests install one that
// records the target instead of starting a browser.
ShellOpener SetShellOpener(ShellOpener opener);

// Installs an opener for the life of the object.
class ScopedShellOpener {
public:
    explicit ScopedShellOpener(ShellOpener opener) : previous_(SetShellOpener(std::move(opener))) {}
    ~ScopedShellOpener() { SetShellOpener(std::move(previous_)); }
    ScopedShellOpener(const ScopedShellOpener&) = delete;
    ScopedShellOpener& operator=(const ScopedShellOpener&) = delete;

private:
    ShellOpener previous_;
};

} // namespace tintavo::platform
