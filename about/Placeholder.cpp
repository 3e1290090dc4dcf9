// Removed once the library has real sources.
namespace tintavo {
int about_placeholder() { return 0; }
} // namespace tintavo
