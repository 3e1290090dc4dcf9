#include "engine/JpegTrap.h"

#include <cstring>

namespace tintavo::detail {

namespace {

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto* trap = reinterpret_cast<JpegTrap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

void OnJpegMessage(j_common_ptr /*info*/, int /*level*/) {}

} // namespace

jpeg_error_mgr* ArmJpegTrap(JpegTrap& trap) {
    jpeg_error_mgr* manager = jpeg_std_error(&trap.manager);
    manager->error_exit = OnJpegError;
    manager->emit_message = OnJpegMessage;
    std::strcpy(trap.message, "Unknown JPEG error");
    return manager;
}

} // namespace tintavo::detail
