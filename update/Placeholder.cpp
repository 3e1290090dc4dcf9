// Removed once the library has real sources.
namespace tintavo {
int update_placeholder() { return 0; }
} // namespace tintavo
