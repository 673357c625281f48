#include "tests/support/jpeg_coding.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace lathmark::test {
namespace {

// An error manager that jumps back to recoded() with the library's words.
struct Failure {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char words[JMSG_LENGTH_MAX];
};

void giveUp(j_common_ptr cinfo) {
    auto* failure = reinterpret_cast<Failure*>(cinfo->err);
    cinfo->err->format_message(cinfo, failure->words);
    std::longjmp(failure->back, 1);
}

void sayNothing(j_common_ptr) {}

}  // namespace

std::string recoded(const std::string& jpeg, const JpegCoding& coding) {
    jpeg_decompress_struct in{};
    jpeg_compress_struct out{};
    Failure failure{};
    unsigned char* coded = nullptr;
    unsigned long codedSize = 0;
    in.err = out.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = giveUp;
    failure.manager.output_message = sayNothing;
    if (setjmp(failure.back)) {
        jpeg_destroy_compress(&out);
        jpeg_destroy_decompress(&in);
        std::free(coded);
        throw std::runtime_error(std::string("cannot code the JPEG anew: ") + failure.words);
    }
    jpeg_create_decompress(&in);
    jpeg_create_compress(&out);
    jpeg_mem_src(&in, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&in, TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&in);
    jpeg_copy_critical_parameters(&in, &out);
    out.arith_code = coding.arithmetic ? TRUE : FALSE;
    if (coding.progressive) jpeg_simple_progression(&out);
    out.restart_in_rows = coding.restartRows;
    jpeg_mem_dest(&out, &coded, &codedSize);
    jpeg_write_coefficients(&out, coefficients);
    jpeg_finish_compress(&out);
    jpeg_finish_decompress(&in);
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    std::string result(reinterpret_cast<const char*>(coded), codedSize);
    std::free(coded);
    return result;
}

std::string savedJpeg(FIBITMAP* dib, int flags) {
    const std::unique_ptr<FIMEMORY, decltype(&FreeImage_CloseMemory)> memory(
        FreeImage_OpenMemory(), &FreeImage_CloseMemory);
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!memory || !FreeImage_SaveToMemory(FIF_JPEG, dib, memory.get(), flags) ||
        !FreeImage_AcquireMemory(memory.get(), &data, &size))
        throw std::runtime_error("FreeImage could not write the JPEG");
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace lathmark::test
