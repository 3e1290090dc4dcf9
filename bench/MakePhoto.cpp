// tintavo-make-photo OUTPUT.jpg [WIDTH HEIGHT]: writes the benchmarks' photograph-like picture
// as the export's JPEG (5472 x 3648, 20 megapixels, unless told otherwise).

#include "PhotoMaker.h"

#include "engine/JpegWriter.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg [WIDTH HEIGHT]\n", argv[0]);
        return 2;
    }
    try {
        const int width = argc == 4 ? std::stoi(argv[2]) : 5472;
        const int height = argc == 4 ? std::stoi(argv[3]) : 3648;
        tintavo::WriteJpegFile(tintavo::bench::MakePhotograph(width, height), argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
