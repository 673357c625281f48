#pragma once
// Ownership of one FreeImage bitmap. A Bitmap unloads its bitmap when it goes out of scope, so
// no early return can leak one; it can be moved but not copied, and may be empty.

#include <FreeImage.h>

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

}  // namespace lathmark
