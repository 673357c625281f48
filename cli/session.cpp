#include "cli/session.h"

#include <unistd.h>

#include <iostream>

#include "cli/csv_output.h"
#include "cli/texts.h"
#include "engine/files.h"
#include "engine/photographs.h"

namespace lathmark {

void StandardOutput::put(std::string_view text) {
    if (error_ == 0) error_ = writeFully(STDOUT_FILENO, text);
}

bool StandardOutput::checked() const {
    if (error_ == 0) return true;
    std::cerr << "lathmark-count: standard output could not be written (" << errnoText(error_)
              << ")\n";
    return false;
}

void say(const std::string& message) {
    std::cerr << terminalText(message) << '\n';
}

Session::Session(const SessionOptions& options, const Settings& settings, StandardOutput& out,
                 HtmlReport* report, JournalWriter* journal, int journalBook)
    : options_(options), out_(out), report_(report), journal_(journal) {
    book_.settings = settings;
    journalBook_.start(journalBook);
    if (journal_)
        journal_->onMadeAgain([this](const std::deque<JournalRecord>& behind) {
            return journalBook_.historyBefore(
                behind, "written again: the journal was removed while the book was open");
        });
}

void Session::begin() {
    if (options_.csv) out_.put(csvHeader());
    journal(journalBook_.settings(kBatchCounterProgram, countingSettingsText(book_.settings)));
}

void Session::take(PhotographOutcome outcome) {
    if (options_.station && !outcome.error)
        if (const BookCount* holder = journalBook_.holding(outcome.digest)) {
            PhotographOutcome refused;
            refused.file = std::move(outcome.file);
            refused.error = alreadyCountedReason(holder->file);
            refused.digest = outcome.digest;
            outcome = std::move(refused);
        }
    book_.add(outcome);
    if (outcome.error)
        journal(journalBook_.refused(outcome.file, *outcome.error, outcome.digest));
    else
        journal(journalBook_.counted(
            {outcome.file, outcome.boards(), outcome.digest, outcome.certainty.uncertain},
            outcome.certainty.byThickness));

    if (options_.csv) {
        out_.put(csvRecord(outcome));
    } else if (options_.json) {
        out_.put(jsonLine(outcome));
    } else if (outcome.error) {
        say(outcome.file + ": " + *outcome.error);
    } else {
        if (!outcome.warning.empty() && !options_.quiet)
            say(outcome.file + ": warning: " + outcome.warning);
        out_.put(textLine(outcome));
        if (outcome.certainty.uncertain && !options_.quiet)
            say(outcome.file + ": uncertain: " + outcome.certainty.why);
    }
    if (report_) report_->add(outcome);
}

void Session::end() {
    journal(journalBook_.record(JournalEvent::Exit));
    if (journal_ && journal_->behind() > 0) {
        // The exit record is among them: the journal does not claim what it does not hold.
        const std::size_t behind = journal_->behind();
        say("lathmark-count: " + std::to_string(behind) + " record" + (behind == 1 ? "" : "s") +
            " could not be written to the journal " + journal_->file().string() + " (" +
            journalFailure_ + ")");
    }
    if (options_.json) {
        out_.put(jsonBook(book_));
    } else if (!options_.csv) {
        out_.put(textBook(book_));
        if (book_.failed > 0)
            std::cerr << "lathmark-count: " << book_.failed << " of "
                      << book_.counted + book_.failed << " photographs could not be counted\n";
    }
}

// A journal that cannot be written is said once until it can be again; its records are kept
// and written in order as soon as it can be, and the counting goes on.
void Session::journal(JournalRecord record) {
    if (!journal_) return;
    noteJournal(journal_->append(std::move(record)));
}

void Session::catchUpJournal() {
    if (journal_ && journal_->behind() > 0) noteJournal(journal_->catchUp());
}

void Session::noteJournal(const std::optional<std::string>& failure) {
    if (failure && !journalFailureSaid_)
        say("lathmark-count: the journal " + journal_->file().string() + " could not be written (" +
            *failure +
            "); its records are kept and written when it can be, and the counting goes on");
    journalFailureSaid_ = failure.has_value();
    if (failure) journalFailure_ = *failure;
}

}  // namespace lathmark
