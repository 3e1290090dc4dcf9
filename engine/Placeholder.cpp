// Removed once the library has real sources.
namespace tintavo {
int engine_placeholder() { return 0; }
} // namespace tintavo
