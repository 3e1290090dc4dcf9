// Removed once the library has real sources.
namespace tintavo {
int services_placeholder() { return 0; }
} // namespace tintavo
