#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace tintavo::test {

// A fresh temporary folder with HOME and every XDG variable pointed into it for the life
// of the object; the previous values come back and the folder is removed afterwards.
// Tests never see the real user's files.
class TestSandbox {
public:
    TestSandbox();
    ~TestSandbox();
    TestSandbox(const TestSandbox&) = delete;
    TestSandbox& operator=(const TestSandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path home() const { return root_ / "home"; }
    std::filesystem::path dataHome() const { return root_ / "home/.local/share"; }
    std::filesystem::path configHome() const { return root_ / "home/.config"; }
    std::filesystem::path stateHome() const { return root_ / "home/.local/state"; }
    std::filesystem::path dataDirs() const { return root_ / "share"; }

    // Sets or clears one variable for the sandbox's life.
    void setEnv(const std::string& name, const std::optional<std::string>& value);

private:
    std::filesystem::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Writes bytes to a file, creating its folder.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

} // namespace tintavo::test
