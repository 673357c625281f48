#pragma once
// FreeImage reports why it failed (or what it had to guess) through one process-wide message
// callback. Its messages are gathered per thread, so that a count running on one thread sees only
// its own decoder's words, and can name them in its error or warning.

#include <string>

namespace lathmark {

// While it lives, what this thread's library calls say is gathered here, apart from what they
// said before; that is back when it goes. The callback is installed on first use.
class LibraryMessages {
  public:
    LibraryMessages();
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // What the library said since this object was made, "; "-joined; empty if nothing.
    std::string text() const;

  private:
    std::string before_;
};

}  // namespace lathmark
