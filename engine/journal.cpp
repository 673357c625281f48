#include "engine/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "engine/csv.h"

namespace lathmark {
namespace {

constexpr std::string_view kHeader =
    "time,event,book,file,boards,uncertain,by_thickness,book_photographs,book_boards,reason,"
    "digest";
constexpr std::size_t kFields = 11;
// The header of journals written before the digest was kept: all but the last column.
constexpr std::string_view kHeaderWithoutDigest = kHeader.substr(0, kHeader.rfind(','));
constexpr std::string_view kLineEnd = "\r\n";
// A journal gets a few hundred bytes a photograph; one larger than this is not read whole.
constexpr std::size_t kMaxJournalBytes = std::size_t{256} << 20;

constexpr std::array<JournalEvent, 7> kEvents{
    JournalEvent::Count, JournalEvent::Refused, JournalEvent::Undo,    JournalEvent::NewBook,
    JournalEvent::Exit,  JournalEvent::Resumed, JournalEvent::Settings};

template <typename T>
std::optional<T> wholeNumber(const std::string& text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

// One record of a journal as read, or why it is not one: words that follow "line N: ".
std::optional<std::string> parseRecord(const std::vector<std::string>& fields,
                                       JournalRecord& record) {
    if (fields.size() != kFields && fields.size() != kFields - 1)
        return "has " + std::to_string(fields.size()) + " fields, not " + std::to_string(kFields);
    record.time = fields[0];
    bool known = false;
    for (JournalEvent event : kEvents)
        if (fields[1] == journalEventName(event)) {
            record.event = event;
            known = true;
        }
    if (!known) return "has an event this program does not write";
    const auto book = wholeNumber<int>(fields[2]);
    if (!book || *book < 1) return "has no book number";
    record.book = *book;
    record.file = csvTextValue(fields[3]);
    if (!fields[4].empty()) {
        record.boards = wholeNumber<long long>(fields[4]);
        if (!record.boards) return "has boards that are not a number";
    }
    if (fields[5] == "true" || fields[5] == "false") record.uncertain = fields[5] == "true";
    const auto photographs = wholeNumber<long long>(fields[7]);
    const auto boards = wholeNumber<long long>(fields[8]);
    if (!photographs || !boards) return "has book counters that are not numbers";
    record.bookPhotographs = *photographs;
    record.bookBoards = *boards;
    record.reason = csvTextValue(fields[9]);
    if (fields.size() == kFields && !fields[10].empty()) {
        record.digest = PhotographDigest::fromHex(fields[10]);
        if (!record.digest) return "has a digest that is not 32 hexadecimal digits";
    }
    return std::nullopt;
}

// The books of a journal as its records build them up. Books may interleave: the window goes
// on with a book it resumes after books that the batch counter wrote meanwhile.
struct Replay {
    struct Book {
        std::vector<BookCount> counts;
        long long boards = 0;
        bool ended = false;  // by its exit, or by a later book of the window
        bool batch = false;  // written by the batch counter, as its settings record says
        std::optional<std::string> damage;
    };
    std::map<int, Book> books;
    int last = 0;  // the book of the last record read

    int highest() const { return books.empty() ? 0 : books.rbegin()->first; }

    // Takes in one record; says why it does not follow from those before it, if it does not.
    std::optional<std::string> take(const JournalRecord& record) {
        if (record.book >= kMostBooks) return "has a book number beyond what a journal counts";
        if (!books.count(record.book) && record.book < highest())
            return "goes back to an earlier book";
        Book& book = books[record.book];
        if (book.ended) return "goes on in a book that had ended";
        switch (record.event) {
            case JournalEvent::Count:
                if (!record.boards) return "is a count without boards";
                if (__builtin_add_overflow(book.boards, *record.boards, &book.boards))
                    return "has boards beyond what a book counts";
                book.counts.push_back(
                    {record.file, *record.boards, record.digest, record.uncertain.value_or(false)});
                break;
            case JournalEvent::Undo:
                if (book.counts.empty() || book.counts.back().file != record.file)
                    return "takes back a photograph that was not the book's last";
                book.boards -= book.counts.back().boards;
                book.counts.pop_back();
                break;
            case JournalEvent::NewBook:
                // It begins its book; the window's books before it have ended.
                for (auto& [number, other] : books)
                    if (number < record.book && !other.batch) other.ended = true;
                break;
            case JournalEvent::Exit:
                book.ended = true;
                break;
            case JournalEvent::Settings:
                book.batch = record.file == kBatchCounterProgram;
                break;
            default:
                break;
        }
        if (record.bookPhotographs != static_cast<long long>(book.counts.size()) ||
            record.bookBoards != book.boards)
            return "has book counters that do not follow from the records before it";
        return std::nullopt;
    }
};

}  // namespace

std::string_view journalEventName(JournalEvent event) {
    switch (event) {
        case JournalEvent::Count:
            return "count";
        case JournalEvent::Refused:
            return "refused";
        case JournalEvent::Undo:
            return "undo";
        case JournalEvent::NewBook:
            return "new book";
        case JournalEvent::Exit:
            return "exit";
        case JournalEvent::Resumed:
            return "resumed";
        case JournalEvent::Settings:
            return "settings";
    }
    return "";
}

std::string journalHeader() {
    return std::string(kHeader) + std::string(kLineEnd);
}

std::string journalLine(const JournalRecord& record) {
    std::string line = csvField(record.time);
    auto add = [&line](const std::string& field) {
        line += ',';
        line += field;
    };
    add(std::string(journalEventName(record.event)));
    add(std::to_string(record.book));
    add(csvTextField(record.file));
    add(record.boards ? std::to_string(*record.boards) : "");
    add(record.uncertain ? (*record.uncertain ? "true" : "false") : "");
    if (record.byThickness) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", *record.byThickness);
        add(text);
    } else {
        add("");
    }
    add(std::to_string(record.bookPhotographs));
    add(std::to_string(record.bookBoards));
    add(csvTextField(record.reason));
    add(record.digest ? record.digest->hex() : "");
    line += kLineEnd;
    return line;
}

std::string journalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime writes the offset as +0100; ISO 8601's extended form, as the rest, has +01:00.
    std::string time = text;
    if (time.size() >= 5) time.insert(time.size() - 2, ":");
    return time;
}

std::optional<std::int64_t> journalTimeSeconds(std::string_view time) {
    // "2026-12-09T14:03:27+01:00", each digit where it must be: nothing else is such a time.
    constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd+dd:dd";
    if (time.size() != kForm.size()) return std::nullopt;
    for (std::size_t i = 0; i < kForm.size(); ++i) {
        const char c = time[i];
        const bool fits = kForm[i] == 'd'   ? c >= '0' && c <= '9'
                          : kForm[i] == '+' ? c == '+' || c == '-'
                                            : c == kForm[i];
        if (!fits) return std::nullopt;
    }
    const auto number = [&time](std::size_t at, std::size_t digits) {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) value = value * 10 + (time[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2), hour = number(11, 2),
              minute = number(14, 2), second = number(17, 2), offsetHours = number(20, 2),
              offsetMinutes = number(23, 2);
    const char sign = time[19];
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::int64_t offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    return static_cast<std::int64_t>(::timegm(&utc)) - offset;
}

namespace {

// Whether a record of a journal begins at `at`: its time, then a comma.
bool recordBeginsAt(std::string_view text, std::size_t at) {
    constexpr std::size_t kTime = 25;  // "2026-12-09T14:03:27+01:00"
    return at + kTime < text.size() && text[at + kTime] == ',' &&
           journalTimeSeconds(text.substr(at, kTime)).has_value();
}

// The records of a journal's text after its header, as far as they are whole.
struct JournalRows {
    struct Row {
        int line = 0;  // the line it begins on, from 1 for the header
        std::vector<std::string> fields;
        std::optional<std::string> problem;  // why it is no record at all
    };
    std::vector<Row> rows;
    std::size_t wholeEnd = 0;  // where the last whole record (or damaged line) ends
};

// A record cut short by a power cut has no line end: a line end inside quotes is data (a file
// name may hold one). Such a torn record is set aside, at the end or where a writer went on
// after it (a record that begins on a line of its own inside the torn one): it was never
// shown, and never spoils what follows it. What is not CSV otherwise is a damaged line.
JournalRows journalRows(std::string_view text, std::size_t at, int line) {
    JournalRows found;
    found.wholeEnd = at;
    const auto linesIn = [&text](std::size_t from, std::size_t to) {
        return static_cast<int>(std::count(text.begin() + static_cast<long>(from),
                                           text.begin() + static_cast<long>(to), '\n'));
    };
    // A record that begins on a line of its own before `to`, after `from`.
    const auto recordWithin = [&text](std::size_t from, std::size_t to) {
        for (std::size_t end = text.find('\n', from); end != std::string_view::npos && end < to;
             end = text.find('\n', end + 1))
            if (recordBeginsAt(text, end + 1)) return end + 1;
        return std::string_view::npos;
    };
    while (at < text.size()) {
        CsvScan scan = scanCsvRecord(text, at);
        const bool whole = scan.ended && !scan.bad;
        if (whole && (scan.fields.size() == kFields || scan.fields.size() == kFields - 1)) {
            found.rows.push_back({line, std::move(scan.fields), std::nullopt});
        } else if (const std::size_t next = recordWithin(at, scan.ended ? scan.end - 1 : scan.end);
                   next != std::string_view::npos) {
            line += linesIn(at, next);  // torn, and a later record began inside it
            at = next;
            continue;
        } else if (!scan.ended && (!scan.bad || scan.openQuote)) {
            break;  // torn at the end
        } else if (scan.bad) {
            const std::size_t end = text.find('\n', scan.end);
            if (end == std::string_view::npos) break;  // torn at the end too
            found.rows.push_back({line + linesIn(at, scan.end), {}, "is not CSV"});
            scan.end = end + 1;
        } else {
            found.rows.push_back({line, std::move(scan.fields), std::nullopt});
        }
        line += linesIn(at, scan.end);
        at = found.wholeEnd = scan.end;
    }
    return found;
}

// Where the header line of a journal's text ends, or nothing if it does not begin with one
// of the headers this program writes.
std::optional<std::size_t> afterHeader(std::string_view text) {
    const std::size_t headerEnd = text.find('\n');
    if (headerEnd == std::string_view::npos) return std::nullopt;
    std::string_view header = text.substr(0, headerEnd);
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    if (header != kHeader && header != kHeaderWithoutDigest) return std::nullopt;
    return headerEnd + 1;
}

}  // namespace

std::optional<std::size_t> journalWholeEnd(std::string_view text) {
    if (const std::optional<std::size_t> headerEnd = afterHeader(text))
        return journalRows(text, *headerEnd, 2).wholeEnd;
    // A header torn when the journal was made is cut off whole.
    if (text.find('\n') == std::string_view::npos && kHeader.starts_with(text)) return 0;
    return std::nullopt;
}

JournalStart readJournalText(std::string_view text) {
    JournalStart start;
    if (text.empty()) return start;
    const std::optional<std::size_t> headerEnd = afterHeader(text);
    if (!headerEnd) {
        if (text.find('\n') == std::string_view::npos) return start;  // a torn header: empty
        start.foreign = true;
        start.untrusted =
            "is not a journal of this program: its first line is not the header "
            "of one";
        return start;
    }
    const JournalRows rows = journalRows(text, *headerEnd, 2);
    // Damage spoils the book it lies in; a later book, which a session started after the damage
    // was found, is read on its own.
    Replay replay;
    JournalRecord last;
    bool anySound = false;
    for (const JournalRows::Row& row : rows.rows) {
        JournalRecord record;
        std::optional<std::string> problem =
            row.problem ? row.problem : parseRecord(row.fields, record);
        const bool parsed = !problem;
        // The book a record lies in: its own, where its number can be one; else the book of the
        // record before it.
        int book = replay.last;
        if (parsed && record.book < kMostBooks &&
            (replay.books.count(record.book) || record.book > replay.highest()))
            book = record.book;
        replay.last = book;
        if (parsed) {
            const auto found = replay.books.find(record.book);
            if (found != replay.books.end() && found->second.damage) continue;
            problem = replay.take(record);
        }
        if (problem) {
            Replay::Book& spoilt = replay.books[book];
            if (!spoilt.damage)
                spoilt.damage = "is damaged: line " + std::to_string(row.line) + " " + *problem;
            continue;
        }
        if (record.digest && !record.file.empty()) start.digests[record.file] = *record.digest;
        last = std::move(record);
        anySound = true;
    }
    if (anySound) start.lastTime = journalTimeSeconds(last.time);
    // The window's last book: the highest that the batch counter did not write.
    start.nextBook = replay.highest() + 1;
    start.book = start.nextBook;
    auto windows = std::find_if(replay.books.rbegin(), replay.books.rend(),
                                [](const auto& book) { return !book.second.batch; });
    if (windows == replay.books.rend()) return start;
    Replay::Book& book = windows->second;
    if (book.damage) {
        start.untrusted = book.damage;
        return start;
    }
    if (book.ended || windows->first == 0) return start;
    // A book without a count (only refusals, or every count taken back) has nothing to resume;
    // the session goes on in it from 0.
    start.book = windows->first;
    if (book.counts.empty()) return start;
    start.resume = true;
    start.photographs = static_cast<long long>(book.counts.size());
    start.boards = book.boards;
    start.counts = std::move(book.counts);
    return start;
}

JournalStart readJournal(const std::filesystem::path& file) {
    std::string text;
    if (auto failure = readWholeFile(file, kMaxJournalBytes, text)) {
        if (failure->kind == ReadFailure::Kind::CannotOpen && failure->error == ENOENT) return {};
        JournalStart start;
        start.untrusted = textFileFailure(*failure, kMaxJournalBytes);
        start.foreign = failure->kind != ReadFailure::Kind::CannotOpen &&
                        failure->kind != ReadFailure::Kind::CannotRead;
        return start;
    }
    return readJournalText(text);
}

const BookCount* StationBook::holding(const std::optional<PhotographDigest>& digest) const {
    if (!digest) return nullptr;
    for (const BookCount& count : counts_)
        if (count.digest == digest) return &count;
    return nullptr;
}

void StationBook::add(BookCount count) {
    boards_ += count.boards;
    uncertain_ += count.uncertain ? 1 : 0;
    counts_.push_back(std::move(count));
}

std::optional<BookCount> StationBook::takeBack() {
    if (counts_.empty()) return std::nullopt;
    BookCount last = std::move(counts_.back());
    counts_.pop_back();
    boards_ -= last.boards;
    uncertain_ -= last.uncertain ? 1 : 0;
    return last;
}

void StationBook::start(int number, std::vector<BookCount> counts) {
    number_ = number;
    counts_.clear();
    boards_ = 0;
    uncertain_ = 0;
    for (BookCount& count : counts) add(std::move(count));
}

std::vector<JournalRecord> StationBook::historyBefore(const std::deque<JournalRecord>& records,
                                                      const std::string& reason) const {
    StationBook before = *this;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->event == JournalEvent::NewBook) return {};  // it begins its book
        if (record->event == JournalEvent::Count) before.takeBack();
        if (record->event == JournalEvent::Undo)
            before.add({record->file, record->boards.value_or(0), record->digest,
                        record->uncertain.value_or(false)});
    }
    return before.history(reason);
}

std::vector<JournalRecord> StationBook::history(const std::string& reason) const {
    std::vector<JournalRecord> records;
    StationBook replay;
    replay.start(number_);
    if (number_ > 1) records.push_back(replay.record(JournalEvent::NewBook));
    for (const BookCount& count : counts_) {
        replay.add(count);
        JournalRecord record = replay.record(JournalEvent::Count, count.file);
        record.boards = count.boards;
        record.digest = count.digest;
        record.uncertain = count.uncertain;
        record.reason = reason;
        records.push_back(std::move(record));
    }
    return records;
}

JournalRecord StationBook::record(JournalEvent event, std::string file) const {
    JournalRecord record;
    record.event = event;
    record.book = number_;
    record.file = std::move(file);
    record.bookPhotographs = photographs();
    record.bookBoards = boards_;
    return record;
}

JournalRecord StationBook::counted(BookCount count, std::optional<double> byThickness) {
    const long long boards = count.boards;
    const bool uncertain = count.uncertain;
    std::string file = count.file;
    const std::optional<PhotographDigest> digest = count.digest;
    add(std::move(count));
    JournalRecord counted = record(JournalEvent::Count, std::move(file));
    counted.boards = boards;
    counted.digest = digest;
    counted.uncertain = uncertain;
    counted.byThickness = byThickness;
    return counted;
}

JournalRecord StationBook::settings(std::string_view program, std::string settingsText) const {
    JournalRecord record = this->record(JournalEvent::Settings, std::string(program));
    record.reason = std::move(settingsText);
    return record;
}

JournalRecord StationBook::refused(std::string file, std::string reason,
                                   std::optional<PhotographDigest> digest) const {
    JournalRecord refusal = record(JournalEvent::Refused, std::move(file));
    refusal.reason = std::move(reason);
    refusal.digest = digest;
    return refusal;
}

namespace {

// Who holds the lock on a file, as far as Linux's list of locks tells: "the batch counter
// (process 1234)".
std::string lockHolder(const struct stat& file) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long long pid = 0;
        if (!(fields >> number >> kind >> mode >> access >> pid >> where) || kind != "FLOCK")
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3 ||
            major != major(file.st_dev) || minor != minor(file.st_dev) || inode != file.st_ino)
            continue;
        std::string program;
        std::ifstream(std::string("/proc/") + std::to_string(pid) + "/comm") >> program;
        const std::string process = "process " + std::to_string(pid);
        if (program == "lathmark") return "the window (" + process + ")";
        if (program == "lathmark-count") return "the batch counter (" + process + ")";
        return program.empty() ? process : program + " (" + process + ")";
    }
    return "another program";
}

}  // namespace

JournalWriter::JournalWriter(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<std::string> JournalWriter::ready() {
    return open(false);
}

std::optional<std::string> JournalWriter::open(bool writing) {
    if (fd_) return std::nullopt;
    if (auto failure = withDigestColumn()) return failure;
    Descriptor fd(
        ::open(file_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!fd) return errnoText(errno);
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return errnoText(errno);
    if (!S_ISREG(status.st_mode)) return std::string("is not a regular file");
    // One writer at a time: held for as long as this writer has the journal open.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return errnoText(errno);
        return "is being written by " + lockHolder(status) + "; nothing is written to it";
    }

    if (status.st_size > 0) {
        // Only a journal is written to, and after its last whole record.
        std::string text;
        if (auto failure = readWholeFile(file_, kMaxJournalBytes, text))
            return textFileFailure(*failure, kMaxJournalBytes);
        const std::optional<std::size_t> keep = journalWholeEnd(text);
        if (!keep) return std::string("is not a journal of this program; nothing is written to it");
        if (*keep < text.size() && ::ftruncate(fd.get(), static_cast<off_t>(*keep)) != 0)
            return errnoText(errno);
    }
    if (::lseek(fd.get(), 0, SEEK_END) == 0) {
        std::string start = journalHeader();
        // A journal that went away while a book was open (its folder removed, say) is made
        // again with the book so far, so that its counters follow from its records.
        if (opened_ && history_ && writing)
            for (JournalRecord& record : history_(behind_)) {
                if (record.time.empty()) record.time = journalTimeNow();
                start += journalLine(record);
            }
        if (int error = writeFully(fd.get(), start)) {
            // A torn header is cut off again at the next open.
            return errnoText(error);
        }
    }
    opened_ = true;
    fd_ = std::move(fd);
    identity_ = {static_cast<std::uint64_t>(status.st_dev),
                 static_cast<std::uint64_t>(status.st_ino)};
    return std::nullopt;
}

// A journal written before the digest was kept gets the new header, its records left as they
// are (a record without the last field is read as one without a digest), so that what is
// appended to it matches its header.
std::optional<std::string> JournalWriter::withDigestColumn() {
    std::string text;
    if (readWholeFile(file_, kMaxJournalBytes, text)) return std::nullopt;  // ready() says why
    const std::string oldHeader = std::string(kHeaderWithoutDigest) + std::string(kLineEnd);
    if (text.compare(0, oldHeader.size(), oldHeader) != 0) return std::nullopt;
    return writeWholeFile(file_, journalHeader() + text.substr(oldHeader.size()));
}

std::optional<std::string> JournalWriter::append(JournalRecord record) {
    if (record.time.empty()) record.time = journalTimeNow();
    behind_.push_back(std::move(record));
    return catchUp();
}

std::optional<std::string> JournalWriter::catchUp() {
    while (!behind_.empty()) {
        if (auto failure = write(behind_.front())) return failure;
        behind_.pop_front();
    }
    return std::nullopt;
}

std::optional<std::string> JournalWriter::write(const JournalRecord& record) {
    // A journal removed, renamed or replaced since it was opened (its folder gone, say) is
    // opened again by its name: records written into a file nobody can find are lost.
    if (fd_) {
        struct stat status {};
        if (::stat(file_.c_str(), &status) != 0 ||
            std::pair(static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)) != identity_)
            fd_ = Descriptor();
    }
    if (auto failure = open(true)) return failure;
    const off_t before = ::lseek(fd_.get(), 0, SEEK_END);
    int error = writeFully(fd_.get(), journalLine(record));
    if (error == 0 && ::fdatasync(fd_.get()) != 0) error = errno;
    if (error != 0) {
        // Half a record would join the next one into a line that is neither.
        if (before < 0 || ::ftruncate(fd_.get(), before) != 0) fd_ = Descriptor();
        return errnoText(error);
    }
    return std::nullopt;
}

}  // namespace lathmark
