#pragma once

// Internal to the engine: how libjpeg's errors reach C++.
//
// libjpeg reports a fatal error by calling error_exit, which must not return. The trap's
// error_exit formats the message and longjmps back to the setjmp point of the small function
// that called into libjpeg. Those functions hold no object with a destructor, so the jump
// skips nothing that needs cleaning up; they report failure by their return value and the C++
// caller raises the exception. Warnings and trace messages are dropped.

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace tintavo::detail {

struct JpegTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Points `err` of a compress or decompress object at the trap.
jpeg_error_mgr* ArmJpegTrap(JpegTrap& trap);

} // namespace tintavo::detail
