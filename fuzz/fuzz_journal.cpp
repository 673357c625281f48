// Fuzz target: the station's journal read back at start, on any bytes. It is read before the
// window shows anything, from a file anyone could have written or a power cut could have torn.
// Besides not crashing:
//
// - a resumed book is one the records build up: its counters are those of its counts, and it
//   is never resumed from a journal that is not trusted;
// - a journal that is not trusted says why, on one line;
// - a journal is read the same twice, and a torn last line (no line end) changes nothing but
//   that line;
// - what the writer writes for a resumed book's counts reads back as that book;
// - the true counts it holds (calibration's list) name photographs its records name, once
//   each, oldest first; without the counts trusted, they are the operator's words alone, the
//   same as with them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "engine/journal.h"
#include "fuzz/pace.h"

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "broken journal read: %s\n", what);
    std::abort();
}

bool same(const lathmark::JournalStart& a, const lathmark::JournalStart& b) {
    if (a.book != b.book || a.resume != b.resume || a.photographs != b.photographs ||
        a.boards != b.boards || a.untrusted != b.untrusted || a.foreign != b.foreign ||
        a.counts.size() != b.counts.size())
        return false;
    for (std::size_t i = 0; i < a.counts.size(); ++i)
        if (a.counts[i].file != b.counts[i].file || a.counts[i].boards != b.counts[i].boards ||
            a.counts[i].digest != b.counts[i].digest)
            return false;
    return true;
}

// A field's text as the CSV holds it, within its quotes where it has some.
std::string quotesDoubled(const std::string& text) {
    std::string doubled;
    for (char c : text) doubled += c == '"' ? std::string("\"\"") : std::string(1, c);
    return doubled;
}

void checkTruths(const std::string& text) {
    const lathmark::JournalTruths trusted = lathmark::journalTruths(text, true);
    const lathmark::JournalTruths checked = lathmark::journalTruths(text, false);
    if (trusted.notAJournal.has_value() == lathmark::beginsAsJournal(text))
        broken("a journal's truths and its header disagree");
    if (trusted.notAJournal && (!trusted.photographs.empty() || !trusted.damage.empty()))
        broken("truths from what is no journal");
    for (const std::string& damage : trusted.damage)
        if (damage.find('\n') != std::string::npos) broken("a word on damage spans lines");
    std::set<std::string> named;
    int line = 0;
    for (const lathmark::JournalTruth& truth : trusted.photographs) {
        if (text.find(quotesDoubled(truth.file)) == std::string::npos)
            broken("a truth of a photograph the journal does not name");
        if (!named.insert(truth.file).second) broken("a photograph with two truths");
        if (truth.line <= line || truth.boards < 0) broken("truths out of order, or below 0");
        line = truth.line;
    }
    std::size_t operators = 0;
    for (const lathmark::JournalTruth& truth : trusted.photographs) {
        if (!truth.checked) continue;
        if (operators >= checked.photographs.size()) broken("an operator's word lost");
        const lathmark::JournalTruth& same = checked.photographs[operators++];
        if (same.file != truth.file || same.boards != truth.boards || same.line != truth.line)
            broken("the operator's words differ with the counts trusted");
    }
    if (operators != checked.photographs.size())
        broken("a count taken as true without being trusted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lathmark::fuzz::countExecution();
    // Most inputs start with the header, so that the records behind it are reached.
    const bool headed = size > 0 && data[0] % 4 != 0;
    std::string text = headed ? lathmark::journalHeader() : std::string();
    text.append(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);

    const lathmark::JournalStart start = lathmark::readJournalText(text);
    if (start.book < 1) broken("a book number below 1");
    if (start.untrusted) {
        if (start.resume) broken("a book resumed from a journal that is not trusted");
        if (start.untrusted->find('\n') != std::string::npos) broken("why spans lines");
    }
    if (start.foreign && !start.untrusted) broken("a foreign file without a word");
    if (start.resume) {
        long long boards = 0;
        for (const lathmark::BookCount& count : start.counts) boards += count.held();
        if (start.photographs != static_cast<long long>(start.counts.size()) ||
            start.boards != boards)
            broken("the resumed counters are not those of its counts");
    }
    if (!same(start, lathmark::readJournalText(text))) broken("read differently twice");
    if (!text.empty() && text.back() == '\n' &&
        !same(start, lathmark::readJournalText(text + "9,")))
        broken("a torn last line changed what was read");

    // The writer goes on after the last whole record: what it cuts off was never read, and a
    // record it appends there follows.
    if (const std::optional<std::size_t> whole = lathmark::journalWholeEnd(text)) {
        if (*whole > text.size()) broken("the writer cuts beyond the end");
        const std::string kept = text.substr(0, *whole);
        if (*whole > 0 && !same(start, lathmark::readJournalText(kept)))
            broken("the writer cut off what was read");
        if (*whole > 0 && !start.untrusted) {
            lathmark::StationBook book;
            book.start(start.book,
                       start.resume ? start.counts : std::vector<lathmark::BookCount>{});
            const lathmark::JournalStart after = lathmark::readJournalText(
                kept + lathmark::journalLine(book.record(lathmark::JournalEvent::Exit)));
            // It ends the window's book: the next session begins a new one.
            if (after.untrusted || after.resume || after.book != after.nextBook)
                broken("a record written after the last whole one does not follow");
        }
    } else if (!start.foreign && !text.empty() && text.find('\n') != std::string::npos) {
        broken("a journal the writer would not write to");
    }

    if (start.resume && !start.untrusted) {
        lathmark::StationBook book;
        book.start(start.book, start.counts);
        // As the writer writes it again when the journal was removed: its counts and the
        // operator's words on them.
        std::string written = lathmark::journalHeader();
        for (lathmark::JournalRecord& record : book.historyBefore({}, "again")) {
            record.time = "2026-12-09T10:00:00+01:00";
            written += lathmark::journalLine(record);
        }
        const lathmark::JournalStart again = lathmark::readJournalText(written);
        lathmark::StationBook read;
        read.start(again.book, again.counts);
        if (again.untrusted || !again.resume || again.boards != book.boards() ||
            again.photographs != book.photographs() || read.uncertain() != book.uncertain())
            broken("a resumed book written again does not read back as itself");
    }
    checkTruths(text);
    return 0;
}
