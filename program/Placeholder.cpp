// Removed once the library has real sources.
namespace tintavo {
int program_placeholder() { return 0; }
} // namespace tintavo
