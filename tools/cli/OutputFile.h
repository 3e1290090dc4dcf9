#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>

namespace tintavo::cli {

// Writes `target` so that it appears whole or not at all: `write` fills a temporary file in
// the target's folder, which is then flushed to disk and renamed over the target. On any
// failure (the writer's exception included) the temporary file is removed, the target is left
// as it was, and the error is raised with the target's name and the system's reason. An
// interrupt (SIGINT, SIGTERM, SIGHUP) during the write removes the temporary file as well.
void WriteAtomically(const std::filesystem::path& target,
                     const std::function<void(std::FILE* file)>& write);

} // namespace tintavo::cli
