#pragma once
// The largest single allocation made while an object of LargestAllocation lives, in our code or
// in the libraries (the sanitizer sees every malloc of the process). A decoded picture is one
// allocation of at least its pixels' size, so this tells whether one was made.

#include <sanitizer/allocator_interface.h>

#include <cstddef>

namespace lathmark::fuzz {

class LargestAllocation {
  public:
    LargestAllocation() {
        static const bool installed =
            __sanitizer_install_malloc_and_free_hooks(&LargestAllocation::onMalloc,
                                                      &LargestAllocation::onFree) != 0;
        (void)installed;
        largest() = 0;
        watching() = true;
    }
    ~LargestAllocation() { watching() = false; }
    LargestAllocation(const LargestAllocation&) = delete;
    LargestAllocation& operator=(const LargestAllocation&) = delete;

    std::size_t bytes() const { return largest(); }

  private:
    static std::size_t& largest() {
        static std::size_t value = 0;
        return value;
    }
    static bool& watching() {
        static bool value = false;
        return value;
    }
    static void onMalloc(const volatile void*, std::size_t size) {
        if (watching() && size > largest()) largest() = size;
    }
    static void onFree(const volatile void*) {}  // the sanitizer takes both hooks or none
};

}  // namespace lathmark::fuzz
