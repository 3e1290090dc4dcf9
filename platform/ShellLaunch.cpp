#include "platform/ShellLaunch.h"

#include "platform/AsciiText.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <vector>

extern char** environ;

namespace tintavo::platform {

namespace {

ShellOpener& InstalledOpener() {
    static ShellOpener opener;
    return opener;
}

// Length of the address scheme at the start of the target ("https" in https://...), 0 when
// there is none. One letter before a colon is not taken for a scheme.
std::size_t SchemeLength(const std::string& target) {
    if (target.empty() || std::isalpha(static_cast<unsigned char>(target[0])) == 0) {
        return 0;
    }
    std::size_t i = 1;
    while (i < target.size() && (std::isalnum(static_cast<unsigned char>(target[i])) != 0 ||
                                 target[i] == '+' || target[i] == '-' || target[i] == '.')) {
        ++i;
    }
    return i < target.size() && target[i] == ':' && i >= 2 ? i : 0;
}

bool HasScheme(const std::string& target, const char* scheme) {
    const std::size_t n = SchemeLength(target);
    if (n == 0) {
        return false;
    }
    std::string lower = target.substr(0, n);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower == scheme;
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Starts xdg-open in the background through the shell, so that the caller never waits for
// the associated program and no child is left unreaped.
bool OpenWithXdgOpen(const std::string& target) {
    std::string script = "command -v xdg-open >/dev/null 2>&1 || exit 127; "
                         "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    std::vector<std::string> args = {"/bin/sh", "-c", script, "tintavo-open", target};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool IsLocalTarget(const std::string& target) {
    return SchemeLength(target) == 0 || HasScheme(target, "file");
}

std::string LocalPathOf(const std::string& target) {
    if (!HasScheme(target, "file")) {
        return target;
    }
    std::string rest = target.substr(5);
    if (rest.rfind("//", 0) == 0) {
        const auto slash = rest.find('/', 2);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash);
    }
    return PercentDecode(rest);
}

bool ShellOpen(const std::string& target) {
    if (target.empty()) {
        return false;
    }
    if (IsLocalTarget(target)) {
        std::error_code ec;
        if (!std::filesystem::exists(LocalPathOf(target), ec)) {
            return false;
        }
    }
    const ShellOpener& opener = InstalledOpener();
    return opener ? opener(target) : OpenWithXdgOpen(target);
}

ShellOpener SetShellOpener(ShellOpener opener) {
    ShellOpener previous = std::move(InstalledOpener());
    InstalledOpener() = std::move(opener);
    return previous;
}

} // namespace tintavo::platform
