#include "app/station.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "engine/text.h"

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
        const auto corrected =
            std::count_if(book_.counts().begin(), book_.counts().end(),
                          [](const BookCount& count) { return count.corrected(); });
        start.message =
            resumedMessage(book_.photographs(), book_.boards(), book_.uncertain(), corrected);
        JournalRecord record = book_.record(JournalEvent::Resumed);
        record.reason = "the book's last record was not New Book or Exit";
        if (book_.uncertain() > 0)
            record.reason += "; " + std::to_string(book_.uncertain()) + " of its counts uncertain";
        if (corrected > 0)
            record.reason += "; " + std::to_string(corrected) + " of its counts corrected";
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

Station::CountShown Station::countShown(const std::string& file, const CountResult& result,
                                        const std::string& resultFileNote,
                                        const std::string& separator) {
    CountShown shown;
    shown.message = detectionMessage(result.boards());
    if (!result.warning.empty()) shown.message += " " + file + ": " + result.warning + ".";
    if (!resultFileNote.empty()) shown.message += " " + resultFileNote;
    // Whether the book holds the image already is told before this count joins it.
    const BookCount* holder = book_.holding(result.digest);
    shown.certainty =
        certaintyLine(result, holder ? std::optional(holder->file) : std::nullopt, separator);
    if (const std::string note = count(file, result); !note.empty()) shown.message += " " + note;
    shown.boards = result.boards();
    shown.uncertain = result.certainty.uncertain;
    return shown;
}

std::string Station::refused(const std::string& file, const std::string& reason,
                             const std::optional<PhotographDigest>& digest) {
    marks_[file] = PhotographMark::Refused;
    return write(book_.refused(file, reason, digest));
}

std::optional<StationBook::TakenBack> Station::takeBack(std::string& journalNote) {
    std::optional<StationBook::TakenBack> taken = book_.takeBack();
    if (!taken) return taken;
    markFromBook(taken->count.file);
    JournalRecord record = book_.undone(*taken);
    if (taken->check) record.operatorName = loginName();
    journalNote = write(std::move(record));
    return taken;
}

std::optional<BookCount> Station::check(JournalEvent event, long long boards, std::string reason,
                                        std::string& journalNote) {
    std::optional<JournalRecord> record =
        book_.check({event, boards, std::move(reason), loginName()});
    if (!record) return std::nullopt;
    const BookCount& count = book_.counts().back();
    markFromBook(count.file);
    journalNote = write(std::move(*record));
    return count;
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
    else if (last->checked())
        marks_[file] = last->corrected() ? PhotographMark::Corrected : PhotographMark::Confirmed;
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

std::string resumedMessage(long long photographs, long long boards, long long uncertain,
                           long long corrected) {
    std::string among;
    if (uncertain > 0) among = std::to_string(uncertain) + " uncertain";
    if (corrected > 0)
        among += (among.empty() ? "" : ", ") + std::to_string(corrected) + " corrected";
    return "Book resumed after an interruption: " + counted(photographs, "photograph") + ", " +
           counted(boards, "board") + (among.empty() ? "" : " (" + among + ")");
}

std::string uncertainText(long long uncertain) {
    return uncertain > 0 ? "(" + std::to_string(uncertain) + " uncertain)" : std::string();
}

std::string takenBackMessage(const StationBook::TakenBack& taken) {
    if (!taken.check)
        return taken.count.file + " taken back: " + counted(taken.count.boards, "board");
    const BookCount& count = taken.count;
    // The count as it stands again, after the operator's word is taken back.
    BookCount now = count;
    now.checks.pop_back();
    const std::string word =
        taken.check->event == JournalEvent::Confirm ? "confirmation" : "correction";
    return "The " + word + " of " + count.file + " taken back: " + counted(now.held(), "board") +
           (now.checked() ? "" : " as counted");
}

std::string checkedMessage(const BookCount& count) {
    const bool confirmed = count.checked() && count.checks.back().event == JournalEvent::Confirm;
    return count.file + (confirmed ? " confirmed: " : " corrected: ") +
           counted(count.held(), "board") +
           (count.corrected() ? " (counted " + std::to_string(count.boards) + ")" : "");
}

std::string checkMark(const BookCount& count) {
    if (!count.checked()) return {};
    if (!count.corrected()) return "confirmed";
    return "corrected, counted " + std::to_string(count.boards);
}

std::string loginName() {
    // The password database knows the user even without a terminal (a window started from a
    // desktop has none, and getlogin() fails there).
    if (const passwd* user = ::getpwuid(::geteuid()); user && user->pw_name) return user->pw_name;
    for (const char* variable : {"LOGNAME", "USER"})
        if (const char* name = std::getenv(variable); name && *name) return name;
    return "uid " + std::to_string(::geteuid());
}

CorrectionTyped parseCorrection(const std::string& field) {
    CorrectionTyped correction;
    const std::string_view typed = trimBlanks(field);
    std::size_t end = 0;
    while (end < typed.size() && typed[end] >= '0' && typed[end] <= '9') ++end;
    const std::string_view digits = typed.substr(0, end);
    if (digits.empty() || (end < typed.size() && typed[end] != ' ' && typed[end] != '\t')) {
        correction.problem = "Type the true number of boards, then a word of why if you like";
        return correction;
    }
    const std::string_view number =
        digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
    if (number.size() > 5 || std::stoll(std::string(number)) > kMostCorrectedBoards) {
        correction.problem =
            "No stack has more than " + std::to_string(kMostCorrectedBoards) + " boards";
        return correction;
    }
    correction.boards = std::stoll(std::string(number));
    correction.reason = std::string(trimBlanks(typed.substr(end)));
    return correction;
}

}  // namespace lathmark
