#pragma once
// What the batch counter does with each photograph's outcome, whether the photographs were
// named at once or arrive while a folder is watched: its line (text, JSON or CSV) at once, the
// book, the report and the journal; and at the end the book's line.

#include <optional>
#include <string>
#include <string_view>

#include "cli/lines.h"
#include "cli/report_html.h"
#include "engine/journal.h"

namespace lathmark {

// Standard output, written straight to its descriptor so that a failure to write it is seen:
// the first failure is kept, and nothing more is written after it.
class StandardOutput {
  public:
    void put(std::string_view text);
    // Says why standard output could not be written, if it could not; true if it could.
    bool checked() const;

  private:
    int error_ = 0;
};

// A message on standard error, its names made safe for a terminal.
void say(const std::string& message);

struct SessionOptions {
    bool json = false;
    bool csv = false;
    bool quiet = false;
    // A station's book (with a journal, or watching a folder): a photograph whose image the book
    // holds already is refused, not counted again.
    bool station = false;
};

class Session {
  public:
    // `report` and `journal` may be null; the journal's records go into book `journalBook`.
    Session(const SessionOptions& options, const Settings& settings, StandardOutput& out,
            HtmlReport* report, JournalWriter* journal, int journalBook);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Before the first photograph: the CSV header.
    void begin();
    // One photograph's outcome: its line, its place in the book, report and journal.
    // `hideProgress(onStandardError)` is called before anything is written.
    template <typename Hide>
    void take(const PhotographOutcome& outcome, Hide hideProgress) {
        const bool text = !options_.csv && !options_.json;
        const bool saysMore = !outcome.warning.empty() || outcome.certainty.uncertain;
        hideProgress(text && (outcome.error || (saysMore && !options_.quiet) ||
                              (options_.station && journalBook_.holding(outcome.digest))));
        take(outcome);
    }
    void take(PhotographOutcome outcome);
    // After the last: the book's line, and the journal's exit record.
    void end();

    const Book& book() const { return book_; }
    // The book as a station keeps it: each count with the photograph's digest.
    const StationBook& stationBook() const { return journalBook_; }
    // Whether every journal record was written.
    bool journalWritten() const { return !journal_ || journal_->behind() == 0; }
    // Writes the journal's records kept back (a disk that was full), as far as it can.
    void catchUpJournal();
    // How long to wait before trying that again; -1 if nothing is kept back.
    int journalRetryMilliseconds() const { return journal_ && journal_->behind() > 0 ? 1000 : -1; }

  private:
    void journal(JournalRecord record);
    void noteJournal(const std::optional<std::string>& failure);

    SessionOptions options_;
    StandardOutput& out_;
    HtmlReport* report_;
    JournalWriter* journal_;
    StationBook journalBook_;
    bool journalFailureSaid_ = false;
    std::string journalFailure_;  // why the journal could not be written, the last time
    Book book_;
};

}  // namespace lathmark
