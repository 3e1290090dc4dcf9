#pragma once

#include "engine/TColor32.h"

#include <cstdint>

namespace tintavo {

// Where the rows of a picture go as they are made, top row first: an encoder that writes its
// file while the picture is still being decoded, so that no whole picture is ever held.
class RowSink {
public:
    RowSink() = default;
    RowSink(const RowSink&) = delete;
    RowSink& operator=(const RowSink&) = delete;
    virtual ~RowSink() = default;

    // Once, before any row.
    virtual void Start(std::int32_t width, std::int32_t height) = 0;
    // `count` rows of Width pixels each, stored one after the other, in the buffer's layout.
    virtual void WriteRows(const TColor32* rows, std::int32_t count) = 0;
    // Once, after the last row.
    virtual void Finish() = 0;
};

} // namespace tintavo
