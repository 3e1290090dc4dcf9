#pragma once

// How much memory an operation may still take before the system would have to refuse it or
// kill the process. Picture files are untrusted: a header may claim any size, and with memory
// over-commit a huge allocation "succeeds" and the process is killed later, while it writes.

#include <cstdint>

namespace tintavo {

// The memory the system can give this process now: the kernel's MemAvailable estimate (free
// memory plus what it can reclaim; sysconf's free pages where that is missing), lowered by what
// the process's memory cgroup (version 2 memory.max, or version 1 memory.limit_in_bytes) and its
// address-space limit leave, when they leave less. The largest value when nothing can be learnt.
std::uint64_t AvailableMemory();

// Raises EngineError "Can't allocate the DIB handle" when `bytes` more do not fit in
// AvailableMemory().
void RequireMemory(std::uint64_t bytes);

} // namespace tintavo
