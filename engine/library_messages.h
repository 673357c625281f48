#pragma once
// FreeImage reports why it failed (or what it had to guess) through one process-wide message
// callback. Its messages are gathered per thread, so that a count running on one thread sees only
// its own decoder's words, and can name them in its error or warning.

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

namespace lathmark {

// While it lives, what this thread's library calls say is gathered here, apart from what they
// said before; that is back when it goes. The callback is installed on first use.
class LibraryMessages {
  public:
    LibraryMessages();
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // What the library said since this object was made, each message once, in the order it was
    // first said; at most kMostKept of them.
    const std::vector<std::string>& said() const;
    // Whether it said more different things than are kept.
    bool overflowed() const;

    // The same "; "-joined and shortened for a person; empty if nothing was said.
    std::string text() const;

    static constexpr std::size_t kMostKept = 1000;

    struct Gathered {
        std::vector<std::string> said;
        std::unordered_set<std::string> known;  // the same, to find one quickly
        bool overflowed = false;
    };

  private:
    Gathered before_;
};

// The words of `said` "; "-joined and shortened for a person.
std::string joinedForAPerson(const std::vector<std::string>& said);

}  // namespace lathmark
