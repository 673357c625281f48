#include "engine/library_messages.h"

#include <FreeImage.h>

#include <mutex>
#include <utility>

namespace lathmark {
namespace {

thread_local std::string messagesOfThisThread;

// A damaged file can make the decoder repeat itself; a message is for a person, so keep it short.
constexpr std::size_t kMaxMessageLength = 400;

void collect(FREE_IMAGE_FORMAT, const char* message) {
    if (!message || messagesOfThisThread.size() >= kMaxMessageLength) return;
    std::string text(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty() || messagesOfThisThread.find(text) != std::string::npos) return;
    if (!messagesOfThisThread.empty()) messagesOfThisThread += "; ";
    messagesOfThisThread += text;
    if (messagesOfThisThread.size() > kMaxMessageLength) {
        messagesOfThisThread.resize(kMaxMessageLength);
        messagesOfThisThread += "...";
    }
}

}  // namespace

LibraryMessages::LibraryMessages() : before_(std::move(messagesOfThisThread)) {
    static std::once_flag once;
    std::call_once(once, [] { FreeImage_SetOutputMessage(collect); });
    messagesOfThisThread.clear();
}

LibraryMessages::~LibraryMessages() {
    messagesOfThisThread = std::move(before_);
}

std::string LibraryMessages::text() const {
    return messagesOfThisThread;
}

}  // namespace lathmark
