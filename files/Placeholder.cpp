// Removed once the library has real sources.
namespace tintavo {
int files_placeholder() { return 0; }
} // namespace tintavo
