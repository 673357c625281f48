#include "engine/library_messages.h"

#include <FreeImage.h>

#include <mutex>
#include <utility>

namespace lathmark {
namespace {

thread_local LibraryMessages::Gathered messagesOfThisThread;

// A message is for a person, so keep what is shown short: a damaged file can make the decoder
// say many things.
constexpr std::size_t kMaxTextLength = 400;

void collect(FREE_IMAGE_FORMAT, const char* message) {
    if (!message) return;
    std::string text(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    auto& gathered = messagesOfThisThread;
    if (text.empty() || gathered.known.count(text) != 0) return;
    if (gathered.said.size() >= LibraryMessages::kMostKept) {
        gathered.overflowed = true;
        return;
    }
    gathered.known.insert(text);
    gathered.said.push_back(std::move(text));
}

}  // namespace

LibraryMessages::LibraryMessages() : before_(std::move(messagesOfThisThread)) {
    static std::once_flag once;
    std::call_once(once, [] { FreeImage_SetOutputMessage(collect); });
    messagesOfThisThread = {};
}

LibraryMessages::~LibraryMessages() {
    messagesOfThisThread = std::move(before_);
}

const std::vector<std::string>& LibraryMessages::said() const {
    return messagesOfThisThread.said;
}

bool LibraryMessages::overflowed() const {
    return messagesOfThisThread.overflowed;
}

std::string LibraryMessages::text() const {
    return joinedForAPerson(said());
}

std::string joinedForAPerson(const std::vector<std::string>& said) {
    std::string text;
    for (const std::string& message : said) {
        if (text.size() >= kMaxTextLength) break;
        if (!text.empty()) text += "; ";
        text += message;
    }
    if (text.size() > kMaxTextLength) {
        text.resize(kMaxTextLength);
        text += "...";
    }
    return text;
}

}  // namespace lathmark
