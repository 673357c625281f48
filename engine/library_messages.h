#pragma once
// FreeImage reports why it failed (or what it had to guess) through one process-wide message
// callback. We collect those messages per thread, so that a count running on one thread sees
// only its own decoder's words, and can name them in its error or warning.

#include <string>

namespace lathmark {

// Installs the callback once; safe to call from any thread, any number of times.
void listenToLibraryMessages();

// Forgets what this thread's library calls have said so far.
void clearLibraryMessages();

// What this thread's library calls have said since the last clear, "; "-joined; empty if
// nothing.
std::string libraryMessages();

// While it lives, what this thread's library calls say is gathered apart from what they said
// before; that is back when it goes.
class LibraryMessagesApart {
  public:
    LibraryMessagesApart();
    ~LibraryMessagesApart();
    LibraryMessagesApart(const LibraryMessagesApart&) = delete;
    LibraryMessagesApart& operator=(const LibraryMessagesApart&) = delete;

    // What the library said since this object was made.
    std::string messages() const { return libraryMessages(); }

  private:
    std::string before_;
};

}  // namespace lathmark
