#pragma once
// The station's journal: every event of a counting session as one CSV record (RFC 4180), appended
// to a file and flushed to the disk before the event is shown, so that a power cut never loses a
// count that was shown. Read back at start, it tells whether the last book was interrupted and
// must be resumed. The window and the batch counter write the same records.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/digest.h"
#include "engine/files.h"

namespace lathmark {

// The journal's name in the working directory of the window.
inline constexpr const char* kJournalFile = "Lathmark-journal.csv";

// The programs that write journals, as a "settings" record names them in its `file`: each
// session begins with one, so that the window knows its books from the batch counter's.
inline constexpr std::string_view kWindowProgram = "lathmark";
inline constexpr std::string_view kBatchCounterProgram = "lathmark-count";

// Book numbers stay below this, so that the next book's number never wraps.
inline constexpr int kMostBooks = 2'000'000'000;

enum class JournalEvent {
    Count,
    Refused,
    Undo,
    NewBook,
    Exit,
    Resumed,
    Settings,
    Correct,
    Confirm
};

// "count", "refused", "undo", "new book", "exit", "resumed", "settings", "correct", "confirm".
std::string_view journalEventName(JournalEvent event);

struct JournalRecord {
    std::string time;  // ISO 8601 with the UTC offset; the writer fills it in when empty
    JournalEvent event = JournalEvent::Count;
    int book = 1;                       // the books of a journal are numbered from 1
    std::string file;                   // the photograph counted, refused or taken back
    std::optional<long long> boards;    // its boards (count, undo)
    std::optional<bool> uncertain;      // its verdict (count)
    std::optional<double> byThickness;  // its thickness count (count, with a THICKNESS)
    long long bookPhotographs = 0;      // the book's counters after the event
    long long bookBoards = 0;
    // Why it was refused, why the book was resumed; the operator's word with a correction; the
    // event an undo takes back when that was a correction or a confirmation.
    std::string reason;
    std::optional<PhotographDigest> digest;  // which photograph it was (count, refused, undo)
    // The boards as counted, where the operator corrected or confirmed them (correct, confirm,
    // and the undo of either), and who did (the login name).
    std::optional<long long> counted;
    std::string operatorName;
};

// "time,event,book,file,boards,uncertain,by_thickness,book_photographs,book_boards,reason,digest,
// counted,operator" and CR LF. Journals written before the digest, or before corrections, were
// kept have the columns of their time (10 or 11), and are still read.
std::string journalHeader();

// One record and CR LF.
std::string journalLine(const JournalRecord& record);

// Now, as "2026-12-09T14:03:27+01:00" in the local time zone.
std::string journalTimeNow();
// Such a time in seconds since 1970; nothing for anything else.
std::optional<std::int64_t> journalTimeSeconds(std::string_view time);

// The operator's word on a count: its true boards (a correction), or that it is right (a
// confirmation).
struct BookCheck {
    JournalEvent event = JournalEvent::Correct;  // Correct or Confirm
    long long boards = 0;
    std::string reason;  // the word typed with a correction
    std::string operatorName;
};

// A photograph counted in a book, as far as taking it back and knowing it again need.
struct BookCount {
    BookCount() = default;
    BookCount(std::string name, long long counted, std::optional<PhotographDigest> image = {},
              bool doubted = false)
        : file(std::move(name)), boards(counted), digest(image), uncertain(doubted) {}

    std::string file;
    long long boards = 0;                    // as counted
    std::optional<PhotographDigest> digest;  // not known for counts of older journals
    bool uncertain = false;                  // the count's verdict
    std::vector<BookCheck> checks;           // the operator's, oldest first

    // What the book holds for it: the latest correction, or the count.
    long long held() const { return checks.empty() ? boards : checks.back().boards; }
    // Whether the operator has had the last word on it, and the book holds a true count.
    bool checked() const { return !checks.empty(); }
    bool corrected() const { return checked() && checks.back().boards != boards; }
};

// The book of a counting session: its number in the journal and its counts, in order, so that
// the last can be taken back.
class StationBook {
  public:
    int number() const { return number_; }
    long long photographs() const { return static_cast<long long>(counts_.size()); }
    long long boards() const { return boards_; }
    // Its counts that are uncertain and that the operator has not checked.
    long long uncertain() const;
    const std::vector<BookCount>& counts() const { return counts_; }

    // The count of the book that holds this image, if one does: its file names where it was
    // counted first. Nothing for an unknown digest.
    const BookCount* holding(const std::optional<PhotographDigest>& digest) const;

    void add(BookCount count);
    // Takes the last act back: the last count's latest check if it has one, else the last
    // count (as it was before the act, and the check taken back, if it was one); nothing if
    // the book is empty.
    struct TakenBack {
        BookCount count;
        std::optional<BookCheck> check;
    };
    std::optional<TakenBack> takeBack();
    // The operator's word on the last count, and its record; nothing if the book is empty.
    std::optional<JournalRecord> check(BookCheck check);
    // The record of an act taken back.
    JournalRecord undone(const TakenBack& taken) const;
    // An empty book numbered `number`, or one that goes on with `counts`.
    void start(int number, std::vector<BookCount> counts = {});

    // The book as it was before `records` (the last of its records), as the records that make
    // it: its "new book" record (for a book after the first) and a count record for each
    // count, with the counters after it and `reason`. None where one of `records` begins its
    // book.
    std::vector<JournalRecord> historyBefore(const std::deque<JournalRecord>& records,
                                             const std::string& reason) const;
    // A record of an event in this book, its counters as they are now.
    JournalRecord record(JournalEvent event, std::string file = {}) const;
    // Adds a count and gives its record: boards, verdict and thickness count.
    JournalRecord counted(BookCount count, std::optional<double> byThickness);
    // The record that begins a session's part of the book: the program and its settings.
    JournalRecord settings(std::string_view program, std::string settingsText) const;
    // The record of a photograph refused, and why.
    JournalRecord refused(std::string file, std::string reason,
                          std::optional<PhotographDigest> digest = std::nullopt) const;

  private:
    std::vector<JournalRecord> history(const std::string& reason) const;

    int number_ = 1;
    std::vector<BookCount> counts_;
    long long boards_ = 0;
};

// What a journal says when a session starts.
struct JournalStart {
    int book = 1;      // the book the window counts into
    int nextBook = 1;  // the number of a book begun now (after the journal's highest)
    // The window's last book (the last that the batch counter did not write) ended without "new
    // book" or "exit", holding counts: it is to be resumed with these counts, oldest first,
    // whatever books the batch counter wrote after it.
    bool resume = false;
    std::vector<BookCount> counts;
    long long photographs = 0;
    long long boards = 0;
    // Why the journal is not trusted for a resume, if it is not: words that follow its name.
    std::optional<std::string> untrusted;
    // The file is there but is not a journal: nothing may be written to it.
    bool foreign = false;
    // The image each file name was last recorded with (by its digest), in any book.
    std::map<std::string, PhotographDigest> digests;
    // When the last record was written, in seconds since 1970; nothing without a record whose
    // time can be read.
    std::optional<std::int64_t> lastTime;
};

// Reads a journal. A missing or empty one starts book 1. A record torn by a power cut (without
// its line end, where a line end inside quotes is data) is left out, at the end or where a
// record begins inside it: it was never shown. A record that is damaged, or whose
// counters do not follow from the records before it, spoils its book: the journal is not trusted
// while that book is its last, and a later book (begun by a session after the damage was found)
// is read on its own.
JournalStart readJournal(const std::filesystem::path& file);
// The same, from the journal's bytes.
JournalStart readJournalText(std::string_view text);

// A true count that a journal holds for a photograph: the operator's latest correction or
// confirmation of it, or (where the operator never had a word on it, and counts are trusted)
// its latest count, as far as undo left them, in any book.
struct JournalTruth {
    std::string file;  // as the journal names it
    long long boards = 0;
    std::optional<PhotographDigest> digest;  // the picture it was recorded with, if known
    bool checked = false;                    // by the operator; else a count trusted
    int line = 0;                            // the line of the journal that gave it, from 1
};

struct JournalTruths {
    std::vector<JournalTruth> photographs;  // oldest first
    // Why a book's records were read only as far as its damage: "book 2 is damaged: ...".
    std::vector<std::string> damage;
    // Why the text is no journal at all; nothing else is set then.
    std::optional<std::string> notAJournal;
};

// The true counts a journal's text holds; with `trustCounts` also the counts nobody checked.
JournalTruths journalTruths(std::string_view text, bool trustCounts);

// Whether text begins as a journal does, with one of the headers this program writes.
bool beginsAsJournal(std::string_view text);

// Where a writer goes on in a journal's bytes: after its last whole record, so that a record
// torn by a power cut (a line end inside quotes is data, not its end) is cut off. Nothing for
// bytes that are not a journal.
std::optional<std::size_t> journalWholeEnd(std::string_view text);

// Appends records to a journal, each written whole and flushed to the disk before append()
// returns. The file is made with its header when missing or empty; a torn last line is cut
// off first; a file that is not a journal, or not a regular file, is never written to. What
// cannot be opened now is tried again at the next record.
class JournalWriter {
  public:
    explicit JournalWriter(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Writes the record (its time filled in if empty) after those not written yet; says why it
    // could not, in words that follow the journal's name. A record that cannot be written now
    // (a full disk, a folder gone) is kept, in order with those after it, and written as soon
    // as the journal can be written again: at the next append() or catchUp(). A record that
    // could not be written whole is taken back off the file, so that the next one starts on a
    // line of its own.
    std::optional<std::string> append(JournalRecord record);
    // Writes the records kept back, as far as it can; says why not, as append() does.
    std::optional<std::string> catchUp();
    // How many records are kept back, not written yet.
    std::size_t behind() const { return behind_.size(); }

    // Opens the journal now, if it is not open, so that one that cannot be written is known
    // before the first event; says why it cannot be, as append() does.
    std::optional<std::string> ready();

    // Where a journal that was open has to be made again (removed meanwhile), the records that
    // begin it again after its header, before the records kept back (the first of them is the
    // one being written): the open book so far (StationBook::historyBefore).
    void onMadeAgain(
        std::function<std::vector<JournalRecord>(const std::deque<JournalRecord>& behind)>
            history) {
        history_ = std::move(history);
    }

  private:
    std::optional<std::string> open(bool writing);
    std::optional<std::string> write(const JournalRecord& record);
    std::optional<std::string> withNewestHeader();

    std::filesystem::path file_;
    Descriptor fd_;
    std::pair<std::uint64_t, std::uint64_t> identity_;  // device and inode of the open file
    bool opened_ = false;                               // whether the journal was ever opened
    std::function<std::vector<JournalRecord>(const std::deque<JournalRecord>&)> history_;
    std::deque<JournalRecord> behind_;  // records not written yet, oldest first
};

}  // namespace lathmark
