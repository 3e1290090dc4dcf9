// Removed once the library has real sources.
namespace tintavo {
int platform_placeholder() { return 0; }
} // namespace tintavo
