#pragma once
// A JPEG photograph coded anew by the JPEG library itself, without decoding its pixels: its
// coefficients are kept and only the coding changes (arithmetic or Huffman, progressive or
// sequential, with or without restart markers), as jpegtran does.

#include <FreeImage.h>

#include <string>

namespace lathmark::test {

struct JpegCoding {
    bool arithmetic = false;
    bool progressive = false;
    int restartRows = 0;  // a restart marker after every this many rows of blocks; 0: none
};

// Throws std::runtime_error with the library's words if `jpeg` cannot be read.
std::string recoded(const std::string& jpeg, const JpegCoding& coding);

// `dib` as FreeImage writes it as a JPEG with `flags`; throws std::runtime_error if it cannot.
std::string savedJpeg(FIBITMAP* dib, int flags);

}  // namespace lathmark::test
