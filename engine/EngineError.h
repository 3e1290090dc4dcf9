#pragma once

#include <stdexcept>

namespace tintavo {

// The one error type the engine raises: a picture that cannot be read or written, a buffer
// that cannot be allocated, inputs that do not fit together. The text is meant for the user.
// Reading errors do not name the file (the caller knows it); writing errors do.
class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tintavo
