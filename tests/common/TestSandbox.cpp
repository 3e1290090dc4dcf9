#include "common/TestSandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace tintavo::test {

namespace fs = std::filesystem;

TestSandbox::TestSandbox() {
    std::string pattern = (fs::temp_directory_path() / "tintavo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a sandbox folder");
    }
    root_ = pattern;
    setEnv("HOME", home().string());
    setEnv("XDG_DATA_HOME", dataHome().string());
    setEnv("XDG_CONFIG_HOME", configHome().string());
    setEnv("XDG_STATE_HOME", stateHome().string());
    setEnv("XDG_CACHE_HOME", (root_ / "home/.cache").string());
    setEnv("XDG_DATA_DIRS", dataDirs().string());
    setEnv("XDG_CONFIG_DIRS", (root_ / "etc/xdg").string());
    fs::create_directories(home());
}

TestSandbox::~TestSandbox() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
    std::error_code ec;
    // Read-only leftovers must not keep the folder alive.
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
}

void TestSandbox::setEnv(const std::string& name, const std::optional<std::string>& value) {
    if (saved_.find(name) == saved_.end()) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace tintavo::test
