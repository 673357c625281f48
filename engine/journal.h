#pragma once
// The station's journal: every event of a counting session as one CSV record (RFC 4180), appended
// to a file and flushed to the disk before the event is shown, so that a power cut never loses a
// count that was shown. Read back at start, it tells whether the last book was interrupted and
// must be resumed. The window and the batch counter write the same records.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files.h"

namespace lathmark {

// The journal's name in the working directory of the window.
inline constexpr const char* kJournalFile = "Lathmark-journal.csv";

enum class JournalEvent { Count, Refused, Undo, NewBook, Exit, Resumed };

// "count", "refused", "undo", "new book", "exit", "resumed".
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
    std::string reason;  // why it was refused, why the book was resumed
};

// "time,event,book,file,boards,uncertain,by_thickness,book_photographs,book_boards,reason" and
// CR LF.
std::string journalHeader();

// One record and CR LF.
std::string journalLine(const JournalRecord& record);

// Now, as "2026-12-09T14:03:27+01:00" in the local time zone.
std::string journalTimeNow();

// Which file a name held when it was read: a file written again under the same name, or
// another file moved in under it, is another photograph.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of what `file` names now (links followed), if it can be found.
std::optional<FileIdentity> identityOf(const std::filesystem::path& file);

// A photograph counted in a book, as far as taking it back and knowing it again need.
struct BookCount {
    std::string file;
    long long boards = 0;
    std::optional<FileIdentity> identity;  // not known for counts read back from a journal
};

// The book of a counting session: its number in the journal and its counts, in order, so that
// the last can be taken back.
class StationBook {
  public:
    int number() const { return number_; }
    long long photographs() const { return static_cast<long long>(counts_.size()); }
    long long boards() const { return boards_; }
    const std::vector<BookCount>& counts() const { return counts_; }

    // Whether this photograph was counted in the book already: the same name and, where both
    // are known, the same file.
    bool holds(const std::string& file, const std::optional<FileIdentity>& identity) const;

    void add(BookCount count);
    // Takes the last count back; nothing if the book is empty.
    std::optional<BookCount> takeBack();
    // An empty book numbered `number`, or one that goes on with `counts`.
    void start(int number, std::vector<BookCount> counts = {});

    // A record of an event in this book, its counters as they are now.
    JournalRecord record(JournalEvent event, std::string file = {}) const;
    // Adds a count and gives its record: boards, verdict and thickness count.
    JournalRecord counted(BookCount count, bool uncertain, std::optional<double> byThickness);
    // The record of a photograph refused, and why.
    JournalRecord refused(std::string file, std::string reason) const;

  private:
    int number_ = 1;
    std::vector<BookCount> counts_;
    long long boards_ = 0;
};

// What a journal says when a session starts.
struct JournalStart {
    int book = 1;  // the book to count into
    // The last book ended without "new book" or "exit", holding counts: it is to be resumed
    // with these counts, oldest first.
    bool resume = false;
    std::vector<BookCount> counts;
    long long photographs = 0;
    long long boards = 0;
    // Why the journal is not trusted for a resume, if it is not: words that follow its name.
    std::optional<std::string> untrusted;
    // The file is there but is not a journal: nothing may be written to it.
    bool foreign = false;
};

// Reads a journal. A missing or empty one starts book 1. A last line without its line end (a
// record torn by a power cut) is left out: it was never shown. A record that is damaged, or whose
// counters do not follow from the records before it, spoils its book: the journal is not trusted
// while that book is its last, and a later book (begun by a session after the damage was found)
// is read on its own.
JournalStart readJournal(const std::filesystem::path& file);
// The same, from the journal's bytes.
JournalStart readJournalText(std::string_view text);

// Appends records to a journal, each written whole and flushed to the disk before append()
// returns. The file is made with its header when missing or empty; a torn last line is cut
// off first; a file that is not a journal, or not a regular file, is never written to. What
// cannot be opened now is tried again at the next record.
class JournalWriter {
  public:
    explicit JournalWriter(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Writes the record (its time filled in if empty); says why it could not, in words that
    // follow the journal's name. A record that could not be written whole is taken back off
    // the file, so that the next one starts on a line of its own.
    std::optional<std::string> append(JournalRecord record);

    // Opens the journal now, if it is not open, so that one that cannot be written is known
    // before the first event; says why it cannot be, as append() does.
    std::optional<std::string> ready();

  private:
    std::filesystem::path file_;
    Descriptor fd_;
};

}  // namespace lathmark
