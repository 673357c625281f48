#pragma once
// The window's counting station: the book being counted and its journal. Every event is written
// to the journal, and flushed to the disk, before the window shows it, so that a book cut short
// by a crash or a power cut is resumed at the next start with every count that was shown. A
// journal that cannot be written never stops the counting: the operator is told once. Free of Qt.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "app/captions.h"
#include "engine/counting.h"
#include "engine/journal.h"

namespace lathmark {

class LathmarkTestAccess;

// What became of a photograph in the book being counted, as the window's list marks it.
// (The window's list shows them by this order.)
enum class PhotographMark { NotCounted, Counted, Uncertain, Refused, Corrected, Confirmed };

class Station {
  public:
    explicit Station(std::filesystem::path journal);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Reads the journal and starts the book it leaves: the interrupted one resumed with its
    // counts (a "resumed" record written), or an empty one; then records the settings counted
    // with. Gives what the operator must be told of it, or nothing.
    struct Start {
        std::string message;
        bool warning = false;  // the journal was not trusted or cannot be written
    };
    Start start(const Settings& settings);

    const StationBook& book() const { return book_; }
    // What the journal said when the session started.
    const JournalStart& journalAtStart() const { return journalAtStart_; }

    // Each of these writes its event to the journal, the book's counters as they are after it,
    // and gives what the operator must be told of a journal that could not be written, once
    // until it can be again: words to add to the message, or nothing.
    std::string count(const std::string& file, const CountResult& result);
    // Counts `result` of `file` into the book as count() does, and gives what the window shows
    // of it; `resultFileNote` says what went wrong with the result image file, if anything did.
    // `separator` is the user's decimal separator.
    struct CountShown {
        std::string message;  // "Detected 12 obvious lines.", and any warning and note after it
        CertaintyLine certainty;
        long long boards = 0;  // the photograph's, as MiniBook shows them
        bool uncertain = false;
    };
    CountShown countShown(const std::string& file, const CountResult& result,
                          const std::string& resultFileNote, const std::string& separator);
    std::string refused(const std::string& file, const std::string& reason,
                        const std::optional<PhotographDigest>& digest = std::nullopt);
    // Takes the book's last act back: the operator's latest word on its last count, or else that
    // count; none if the book has no count left.
    std::optional<StationBook::TakenBack> takeBack(std::string& journalNote);
    // The operator's word on the book's last count: its true boards (Correct, with an optional
    // word of why) or that it is right (Confirm). The count as it is now; none if the book has
    // no count.
    std::optional<BookCount> check(JournalEvent event, long long boards, std::string reason,
                                   std::string& journalNote);
    std::string newBook();
    // The settings counted with from now on (the settings file was changed), into the journal.
    std::string settingsChanged(const Settings& settings);

    // The latest that became of `file` in this book: its count (sure or uncertain), its
    // refusal, or nothing yet (nothing left, once its count is taken back).
    PhotographMark mark(const std::string& file) const;
    // The end of the session; written once however often the window is closed.
    std::string exit();

    // Writes the journal's records kept back (a disk that was full), as far as it can.
    void catchUp();
    // While records are kept back, what the standing line says of it: "Lathmark-journal.csv is
    // behind by 3 records (No space left on device): ..."; empty when the journal is whole.
    std::string behindText() const;

  private:
    friend class LathmarkTestAccess;

    std::string write(JournalRecord record);
    void markFromBook(const std::string& file);
    std::string failureNote(const std::string& failure) const;

    JournalWriter writer_;
    JournalStart journalAtStart_;
    StationBook book_;
    bool failureSaid_ = false;
    bool exited_ = false;
    std::string lastFailure_;  // why the journal could not be written, the last time
    bool foreign_ = false;     // the file is no journal: never written
    int nextBook_ = 1;         // the number of a new book: after every book of the journal
    std::map<std::string, PhotographMark> marks_;  // of this book's photographs
};

// "Book resumed after an interruption: 5 photographs, 87 boards", and " (2 uncertain, 1
// corrected)" where some of its counts are.
std::string resumedMessage(long long photographs, long long boards, long long uncertain = 0,
                           long long corrected = 0);

// What the book's counter shows beside it: "(2 uncertain)"; empty for none.
std::string uncertainText(long long uncertain);

// "stack_03.jpg taken back: 12 boards", "The correction of stack_03.jpg taken back: 12 boards
// as counted".
std::string takenBackMessage(const StationBook::TakenBack& taken);

// "stack_03.jpg corrected: 21 boards (counted 19)", "stack_03.jpg confirmed: 21 boards".
std::string checkedMessage(const BookCount& count);

// What MiniBook shows under the photograph's boards of the operator's word: "corrected, counted
// 19", "confirmed"; empty for none.
std::string checkMark(const BookCount& count);

// The login name of the user running the program, as the journal records who checked a count.
std::string loginName();

// The most boards a correction gives a photograph.
inline constexpr long long kMostCorrectedBoards = 99999;

// What the operator typed as a correction: the true boards and an optional word of why ("21",
// "21 two sheets glued"); or why it is not one.
struct CorrectionTyped {
    long long boards = 0;
    std::string reason;
    std::optional<std::string> problem;
};
CorrectionTyped parseCorrection(const std::string& typed);

}  // namespace lathmark
