#include "app/station.h"

#include <algorithm>
#include <utility>

namespace lathmark {
namespace {

// "1 board", "12 boards".
std::string counted(long long number, const std::string& thing) {
    return std::to_string(number) + " " + thing + (number == 1 ? "" : "s");
}

}  // namespace

Station::Station(std::filesystem::path journal) : writer_(std::move(journal)) {
    writer_.onMadeAgain([this](const std::deque<JournalRecord>& behind) {
        return book_.historyBefore(
            behind, "written again: the journal was removed while the book was open");
    });
}

Station::Start Station::start(const Settings& settings) {
    journalAtStart_ = readJournal(writer_.file());
    const JournalStart& read = journalAtStart_;
    nextBook_ = read.nextBook;
    const std::string name = writer_.file().filename().string();
    Start start;
    if (read.untrusted) {
        // A journal that cannot be read whole is never trusted with the counts of a book.
        book_.start(read.book);
        start.warning = true;
        start.message = name + " " + *read.untrusted + "; the book starts at 0";
        if (read.foreign) {
            // Never written: the operator hears it now, once.
            start.message += " and nothing is written to it";
            foreign_ = true;
            return start;
        }
    } else {
        book_.start(read.book, read.resume ? read.counts : std::vector<BookCount>{});
        for (const BookCount& count : book_.counts()) markFromBook(count.file);
    }
    // Held from now on, so that no other program writes into the book meanwhile.
    if (auto failure = writer_.ready()) {
        start.message += (start.message.empty() ? "" : ". ") + failureNote(*failure);
        start.warning = true;
        failureSaid_ = true;
    }
    std::string note;
    if (!read.untrusted && read.resume) {
        start.message = resumedMessage(book_.photographs(), book_.boards(), book_.uncertain());
        JournalRecord record = book_.record(JournalEvent::Resumed);
        record.reason = "the book's last record was not New Book or Exit";
        if (book_.uncertain() > 0)
            record.reason += "; " + std::to_string(book_.uncertain()) + " of its counts uncertain";
        note = write(std::move(record));
    }
    if (note.empty()) note = write(book_.settings(kWindowProgram, countingSettingsText(settings)));
    if (!note.empty()) {
        start.message += (start.message.empty() ? "" : ". ") + note;
        start.warning = true;
    }
    return start;
}

std::string Station::count(const std::string& file, const CountResult& result) {
    marks_[file] = result.certainty.uncertain ? PhotographMark::Uncertain : PhotographMark::Counted;
    return write(book_.counted({file, result.boards(), result.digest, result.certainty.uncertain},
                               result.certainty.byThickness));
}

std::string Station::refused(const std::string& file, const std::string& reason,
                             const std::optional<PhotographDigest>& digest) {
    marks_[file] = PhotographMark::Refused;
    return write(book_.refused(file, reason, digest));
}

std::optional<BookCount> Station::takeBack(std::string& journalNote) {
    std::optional<BookCount> taken = book_.takeBack();
    if (!taken) return taken;
    markFromBook(taken->file);
    JournalRecord record = book_.record(JournalEvent::Undo, taken->file);
    record.boards = taken->boards;
    record.digest = taken->digest;
    journalNote = write(std::move(record));
    return taken;
}

std::string Station::newBook() {
    book_.start(std::max(book_.number() + 1, nextBook_));
    nextBook_ = book_.number() + 1;
    marks_.clear();
    return write(book_.record(JournalEvent::NewBook));
}

std::string Station::settingsChanged(const Settings& settings) {
    return write(book_.settings(kWindowProgram, countingSettingsText(settings)));
}

PhotographMark Station::mark(const std::string& file) const {
    const auto found = marks_.find(file);
    return found == marks_.end() ? PhotographMark::NotCounted : found->second;
}

// The mark of the book's latest count of `file`, or none.
void Station::markFromBook(const std::string& file) {
    const std::vector<BookCount>& counts = book_.counts();
    const auto last = std::find_if(counts.rbegin(), counts.rend(),
                                   [&](const BookCount& count) { return count.file == file; });
    if (last == counts.rend())
        marks_.erase(file);
    else
        marks_[file] = last->uncertain ? PhotographMark::Uncertain : PhotographMark::Counted;
}

std::string Station::exit() {
    if (exited_) return {};
    exited_ = true;
    return write(book_.record(JournalEvent::Exit));
}

std::string Station::write(JournalRecord record) {
    if (foreign_) return {};
    const std::optional<std::string> failure = writer_.append(std::move(record));
    if (failure) lastFailure_ = *failure;
    if (!failure) {
        failureSaid_ = false;  // should it fail again, that is news again
        return {};
    }
    if (failureSaid_) return {};
    failureSaid_ = true;
    return failureNote(*failure);
}

std::string Station::failureNote(const std::string& failure) const {
    return writer_.file().filename().string() + " could not be written (" + failure +
           "); its records are kept and written as soon as it can be.";
}

void Station::catchUp() {
    if (writer_.behind() == 0) return;
    if (auto failure = writer_.catchUp())
        lastFailure_ = *failure;
    else
        failureSaid_ = false;
}

std::string Station::behindText() const {
    const std::size_t behind = writer_.behind();
    if (behind == 0) return {};
    return writer_.file().filename().string() + " is behind by " +
           counted(static_cast<long long>(behind), "record") + " (" + lastFailure_ +
           "): they are written as soon as it can be";
}

std::string resumedMessage(long long photographs, long long boards, long long uncertain) {
    return "Book resumed after an interruption: " + counted(photographs, "photograph") + ", " +
           counted(boards, "board") + (uncertain > 0 ? " " + uncertainText(uncertain) : "");
}

std::string uncertainText(long long uncertain) {
    return uncertain > 0 ? "(" + std::to_string(uncertain) + " uncertain)" : std::string();
}

std::string takenBackMessage(const BookCount& count) {
    return count.file + " taken back: " + counted(count.boards, "board");
}

}  // namespace lathmark
