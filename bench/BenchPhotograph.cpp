#include "BenchPhotograph.h"

#include "PhotoMaker.h"

#include "engine/JpegWriter.h"

#include <fstream>
#include <vector>

namespace tintavo::bench {

TBitmap32 MakePhotograph() {
    return MakePhotograph(PhotoWidth, PhotoHeight);
}

std::filesystem::path PhotographFile(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / "photo-24mp.jpg";
    if (!std::filesystem::exists(file)) {
        const std::vector<std::uint8_t> stream = EncodeJpeg(MakePhotograph());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()),
                   static_cast<std::streamsize>(stream.size()));
    }
    return file;
}

} // namespace tintavo::bench
