// lathmark-bench-photograph FILE WIDTH HEIGHT
//
// Writes the stack photograph the benchmarks measure at the given size, for the scripts that
// run lathmark-count on it, and prints its true board count. A size of 1 x 1 writes a plain
// grey pixel instead: a photograph that is decoded and refused, to measure a run's overhead.

#include <FreeImage.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/fixtures.h"

namespace {

bool readSize(const char* text, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 1 || number > 20000) return false;
    value = static_cast<int>(number);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int width = 0;
    int height = 0;
    if (argc != 4 || !readSize(argv[2], width) || !readSize(argv[3], height)) {
        std::fprintf(stderr, "usage: lathmark-bench-photograph FILE WIDTH HEIGHT\n");
        return 2;
    }
    FreeImage_Initialise();
    int status = 0;
    try {
        if (width == 1 && height == 1) {
            lathmark::bench::writeTinyPhotograph(argv[1]);
            std::printf("%s: 1 x 1, no boards\n", argv[1]);
        } else {
            const auto photo = lathmark::bench::writeBenchPhotograph(argv[1], width, height);
            std::printf("%s: %d boards, %d x %d\n", argv[1], photo.boards, width, height);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        status = 1;
    }
    FreeImage_DeInitialise();
    return status;
}
