// lathmark-bench-decode FILE...: decodes each JPEG with a bare FreeImage_Load and lets it go, one
// after another in one process: what a batch count of the same files costs at the least, for
// bench_jobs.sh to hold lathmark-count's whole process against. Exits 1 if a file cannot be
// decoded.

#include <FreeImage.h>

#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        FIBITMAP* dib = FreeImage_Load(FIF_JPEG, argv[i], 0);
        if (dib == nullptr) {
            std::fprintf(stderr, "lathmark-bench-decode: %s cannot be decoded\n", argv[i]);
            return 1;
        }
        FreeImage_Unload(dib);
    }
    return 0;
}
