#pragma once
// Ownership of one FreeImage bitmap, and quick access to its rows. A Bitmap unloads its bitmap
// when it goes out of scope, so no early return can leak one; it can be moved but not copied,
// and may be empty.

#include <FreeImage.h>

#include <cstddef>
#include <memory>

namespace lathmark {

class Bitmap {
  public:
    Bitmap() = default;
    explicit Bitmap(FIBITMAP* dib) : dib_(dib) {}

    // The handle, still owned by this Bitmap.
    FIBITMAP* get() const { return dib_.get(); }
    explicit operator bool() const { return dib_ != nullptr; }

    // Unloads the bitmap held so far and takes `dib` instead.
    void reset(FIBITMAP* dib = nullptr) { dib_.reset(dib); }

    int width() const { return dib_ ? static_cast<int>(FreeImage_GetWidth(dib_.get())) : 0; }
    int height() const { return dib_ ? static_cast<int>(FreeImage_GetHeight(dib_.get())) : 0; }

  private:
    struct Unload {
        void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
    };
    std::unique_ptr<FIBITMAP, Unload> dib_;
};

// A bitmap's scanlines, found from its first one and the pitch, for loops over rows: the
// library's own lookup of each row costs more than the work on a short row. Row 0 is the
// bottom one, as in the library.
class Scanlines {
  public:
    explicit Scanlines(FIBITMAP* dib)
        : bits_(FreeImage_GetBits(dib)), pitch_(FreeImage_GetPitch(dib)) {}
    BYTE* operator()(int y) const { return bits_ + static_cast<std::size_t>(y) * pitch_; }

  private:
    BYTE* bits_;
    std::size_t pitch_;
};

}  // namespace lathmark
