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
    "digest,counted,operator";
constexpr std::size_t kFields = 13;
// The headers of journals written before the digest, and before corrections, were kept: the
// columns of their time, each record as many fields.
constexpr std::string_view kHeaderWithoutChecks = kHeader.substr(0, kHeader.find(",counted"));
constexpr std::string_view kHeaderWithoutDigest =
    kHeaderWithoutChecks.substr(0, kHeaderWithoutChecks.rfind(','));
constexpr std::size_t kFieldsWithoutChecks = 11;
constexpr std::size_t kFieldsWithoutDigest = 10;

bool knownFieldCount(std::size_t fields) {
    return fields == kFields || fields == kFieldsWithoutChecks || fields == kFieldsWithoutDigest;
}

constexpr std::string_view kLineEnd = "\r\n";
// A journal gets a few hundred bytes a photograph; one larger than this is not read whole.
constexpr std::size_t kMaxJournalBytes = std::size_t{256} << 20;

constexpr std::array<JournalEvent, 9> kEvents{
    JournalEvent::Count,    JournalEvent::Refused, JournalEvent::Undo,
    JournalEvent::NewBook,  JournalEvent::Exit,    JournalEvent::Resumed,
    JournalEvent::Settings, JournalEvent::Correct, JournalEvent::Confirm};

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
    if (!knownFieldCount(fields.size()))
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
    if (fields.size() > 10 && !fields[10].empty()) {
        record.digest = PhotographDigest::fromHex(fields[10]);
        if (!record.digest) return "has a digest that is not 32 hexadecimal digits";
    }
    if (fields.size() > 11) {
        if (!fields[11].empty()) {
            record.counted = wholeNumber<long long>(fields[11]);
            if (!record.counted) return "has a counted count that is not a number";
        }
        record.operatorName = csvTextValue(fields[12]);
    }
    return std::nullopt;
}

// The books of a journal as its records build them up. Books may interleave: the window goes
// on with a book it resumes after books that the batch counter wrote meanwhile.
struct Replay {
    struct Book {
        StationBook counts;
        // For each count, the lines of its record and of each of its checks.
        std::vector<std::vector<int>> lines;
        bool ended = false;  // by its exit, or by a later book of the window
        bool batch = false;  // written by the batch counter, as its settings record says
        std::optional<std::string> damage;
    };
    std::map<int, Book> books;
    int last = 0;  // the book of the last record read

    int highest() const { return books.empty() ? 0 : books.rbegin()->first; }

    // Takes in one record, of line `line`; says why it does not follow from those before it, if
    // it does not.
    std::optional<std::string> take(const JournalRecord& record, int line) {
        if (record.book >= kMostBooks) return "has a book number beyond what a journal counts";
        if (!books.count(record.book) && record.book < highest())
            return "goes back to an earlier book";
        Book& book = books[record.book];
        if (book.ended) return "goes on in a book that had ended";
        StationBook& counts = book.counts;
        const BookCount* lastCount = counts.counts().empty() ? nullptr : &counts.counts().back();
        long long boards = counts.boards();
        switch (record.event) {
            case JournalEvent::Count:
                if (!record.boards) return "is a count without boards";
                if (__builtin_add_overflow(boards, *record.boards, &boards))
                    return "has boards beyond what a book counts";
                counts.add(
                    {record.file, *record.boards, record.digest, record.uncertain.value_or(false)});
                book.lines.push_back({line});
                break;
            case JournalEvent::Correct:
            case JournalEvent::Confirm:
                if (!lastCount || lastCount->file != record.file)
                    return "checks a photograph that was not the book's last";
                if (!record.boards) return "is a check without boards";
                if (record.counted && *record.counted != lastCount->boards)
                    return "has a counted count that is not the book's";
                if (__builtin_add_overflow(boards - lastCount->held(), *record.boards, &boards))
                    return "has boards beyond what a book counts";
                counts.check({record.event, *record.boards, record.reason, record.operatorName});
                book.lines.back().push_back(line);
                break;
            case JournalEvent::Undo:
                if (!lastCount || lastCount->file != record.file)
                    return "takes back a photograph that was not the book's last";
                counts.takeBack();
                if (book.lines.back().size() > 1)
                    book.lines.back().pop_back();
                else
                    book.lines.pop_back();
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
        if (record.bookPhotographs != counts.photographs() || record.bookBoards != counts.boards())
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
        case JournalEvent::Correct:
            return "correct";
        case JournalEvent::Confirm:
            return "confirm";
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
    add(record.counted ? std::to_string(*record.counted) : "");
    add(csvTextField(record.operatorName));
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
        if (whole && knownFieldCount(scan.fields.size())) {
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
    if (header != kHeader && header != kHeaderWithoutChecks && header != kHeaderWithoutDigest)
        return std::nullopt;
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

namespace {

// Replays a journal's records after its header (which ends at `headerEnd`) into their books,
// and notes in `start` what every record tells (digests, the last time). Damage spoils the book
// it lies in; a later book, which a session started after the damage was found, is read on
// its own.
Replay replayJournal(std::string_view text, std::size_t headerEnd, JournalStart& start) {
    const JournalRows rows = journalRows(text, headerEnd, 2);
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
            problem = replay.take(record, row.line);
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
    return replay;
}

}  // namespace

bool beginsAsJournal(std::string_view text) {
    return afterHeader(text).has_value();
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
    Replay replay = replayJournal(text, *headerEnd, start);
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
    if (book.counts.counts().empty()) return start;
    start.resume = true;
    start.photographs = book.counts.photographs();
    start.boards = book.counts.boards();
    start.counts = book.counts.counts();
    return start;
}

JournalTruths journalTruths(std::string_view text, bool trustCounts) {
    JournalTruths truths;
    const std::optional<std::size_t> headerEnd = afterHeader(text);
    if (!headerEnd) {
        truths.notAJournal =
            "is not a journal of this program: its first line is not the header "
            "of one";
        return truths;
    }
    JournalStart start;
    const Replay replay = replayJournal(text, *headerEnd, start);
    // Per name, the latest word of the operator; else, where counts are trusted, the latest count.
    std::map<std::string, JournalTruth> checked, trusted;
    for (const auto& [number, book] : replay.books) {
        if (book.damage)
            truths.damage.push_back("book " + std::to_string(number) + " " + *book.damage +
                                    "; its records after that are left out");
        const std::vector<BookCount>& counts = book.counts.counts();
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const BookCount& count = counts[i];
            const JournalTruth truth{count.file, count.held(), count.digest, count.checked(),
                                     book.lines[i].back()};
            auto& latest = count.checked() ? checked : trusted;
            if (!count.checked() && !trustCounts) continue;
            auto [found, added] = latest.try_emplace(count.file, truth);
            if (!added && found->second.line < truth.line) found->second = truth;
        }
    }
    for (auto& [file, truth] : trusted)
        if (!checked.count(file)) checked.emplace(file, std::move(truth));
    for (auto& [file, truth] : checked) truths.photographs.push_back(std::move(truth));
    std::sort(truths.photographs.begin(), truths.photographs.end(),
              [](const JournalTruth& a, const JournalTruth& b) { return a.line < b.line; });
    return truths;
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

long long StationBook::uncertain() const {
    return std::count_if(counts_.begin(), counts_.end(), [](const BookCount& count) {
        return count.uncertain && !count.checked();
    });
}

void StationBook::add(BookCount count) {
    boards_ += count.held();
    counts_.push_back(std::move(count));
}

std::optional<StationBook::TakenBack> StationBook::takeBack() {
    if (counts_.empty()) return std::nullopt;
    BookCount& last = counts_.back();
    boards_ -= last.held();
    if (last.checked()) {
        TakenBack taken{last, last.checks.back()};
        last.checks.pop_back();
        boards_ += last.held();
        return taken;
    }
    TakenBack taken{std::move(last), std::nullopt};
    counts_.pop_back();
    return taken;
}

std::optional<JournalRecord> StationBook::check(BookCheck check) {
    if (counts_.empty()) return std::nullopt;
    BookCount& last = counts_.back();
    boards_ += check.boards - last.held();
    JournalRecord checked = record(check.event, last.file);
    checked.boards = check.boards;
    checked.counted = last.boards;
    checked.digest = last.digest;
    checked.reason = check.reason;
    checked.operatorName = check.operatorName;
    last.checks.push_back(std::move(check));
    checked.bookBoards = boards_;
    return checked;
}

JournalRecord StationBook::undone(const TakenBack& taken) const {
    JournalRecord record = this->record(JournalEvent::Undo, taken.count.file);
    record.digest = taken.count.digest;
    if (taken.check) {
        record.boards = taken.check->boards;
        record.counted = taken.count.boards;
        record.reason = std::string(journalEventName(taken.check->event));
    } else {
        record.boards = taken.count.boards;
    }
    return record;
}

void StationBook::start(int number, std::vector<BookCount> counts) {
    number_ = number;
    counts_.clear();
    boards_ = 0;
    for (BookCount& count : counts) add(std::move(count));
}

std::vector<JournalRecord> StationBook::historyBefore(const std::deque<JournalRecord>& records,
                                                      const std::string& reason) const {
    StationBook before = *this;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        switch (record->event) {
            case JournalEvent::NewBook:
                return {};  // it begins its book
            case JournalEvent::Count:
            case JournalEvent::Correct:
            case JournalEvent::Confirm:
                before.takeBack();
                break;
            case JournalEvent::Undo:
                if (record->counted) {
                    before.check({record->reason == journalEventName(JournalEvent::Confirm)
                                      ? JournalEvent::Confirm
                                      : JournalEvent::Correct,
                                  record->boards.value_or(0),
                                  {},
                                  record->operatorName});
                } else {
                    before.add({record->file, record->boards.value_or(0), record->digest,
                                record->uncertain.value_or(false)});
                }
                break;
            default:
                break;
        }
    }
    return before.history(reason);
}

std::vector<JournalRecord> StationBook::history(const std::string& reason) const {
    std::vector<JournalRecord> records;
    StationBook replay;
    replay.start(number_);
    if (number_ > 1) records.push_back(replay.record(JournalEvent::NewBook));
    for (const BookCount& count : counts_) {
        BookCount counted = count;
        counted.checks.clear();
        replay.add(counted);
        JournalRecord record = replay.record(JournalEvent::Count, count.file);
        record.boards = count.boards;
        record.digest = count.digest;
        record.uncertain = count.uncertain;
        record.reason = reason;
        records.push_back(std::move(record));
        for (const BookCheck& check : count.checks) records.push_back(*replay.check(check));
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
    if (auto failure = withNewestHeader()) return failure;
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

// A journal written before the digest or the corrections were kept gets the newest header, its
// records left as they are (a record without the last fields is read as one without them), so
// that what is appended to it matches its header.
std::optional<std::string> JournalWriter::withNewestHeader() {
    std::string text;
    if (readWholeFile(file_, kMaxJournalBytes, text)) return std::nullopt;  // ready() says why
    for (std::string_view old : {kHeaderWithoutDigest, kHeaderWithoutChecks}) {
        const std::string oldHeader = std::string(old) + std::string(kLineEnd);
        if (text.compare(0, oldHeader.size(), oldHeader) == 0)
            return writeWholeFile(file_, journalHeader() + text.substr(oldHeader.size()));
    }
    return std::nullopt;
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
