#pragma once
// The one rule by which a watched folder's photographs are counted, for the window and the batch
// counter alike: each photograph once in a book, however it reaches the folder. A photograph is
// its image (digest.h), not its file: the same image copied, linked, renamed, touched, or given
// metadata, a trailer or a late end-of-image marker is not counted again; a new image under an
// old name is a new photograph. One still being written (empty, or cut off) is held back
// quietly and counted when it is whole; if it stays unfinished, its refusal is told once it has
// not changed for a while.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/digest.h"
#include "engine/error.h"
#include "engine/journal.h"
#include "engine/preparation.h"

namespace lathmark {

class Arrivals {
  public:
    // How long a photograph refused as unfinished waits for the rest of its bytes.
    static constexpr std::chrono::seconds kSettle{10};

    // Photographs of `folder`; the faces name them by the name alone (`withFolder` false, the
    // window in its working folder) or with the folder before it (the batch counter).
    Arrivals(std::filesystem::path folder, bool withFolder);

    // What to do with a name of the folder that may hold a new photograph.
    struct Arrival {
        enum class Kind {
            Nothing,         // gone again, unchanged, or the image already looked at under it
            Count,           // count `photograph` (or say why it cannot be read)
            AlreadyCounted,  // the book holds its image: refused, with `reason`
            Refused,         // no photograph can be read from it: refused, with `reason`
        };
        Kind kind = Kind::Nothing;
        std::string file;  // as the face names it
        StepResult<JpegPhotograph> photograph;
        std::string reason;
        std::optional<PhotographDigest> digest;
        std::string countedAs;  // AlreadyCounted: the file the book counted its image as
    };
    Arrival look(const std::string& name, const StationBook& book);

    // Whether the outcome of counting `name` is to be told now: not if it was refused as
    // unfinished, which is held back until the file changes or kSettle passes.
    bool settle(const std::string& name, const std::optional<std::string>& refusal);

    // The name as it stands now is no arrival (a photograph listed when the window opens): its
    // image is read, so that the same image under it later is none either.
    void know(const std::string& name);
    // The name left the folder.
    void left(const std::string& name);

    // The refusals of held-back photographs that have not changed for kSettle (all of them with
    // `all`), each as its file and reason; they are no longer held.
    std::vector<std::pair<std::string, std::string>> overdue(bool all = false);
    // Milliseconds until the next held-back photograph is overdue; -1 if none is held.
    int millisecondsToOverdue() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Seen {
        std::optional<FileIdentity> identity;  // of the file (or link) when it was looked at
        std::optional<PhotographDigest> digest;
    };
    struct Held {
        std::string reason;
        Clock::time_point since;
    };

    std::string fileOf(const std::string& name) const;

    std::filesystem::path folder_;
    bool withFolder_;
    std::map<std::string, Seen> seen_;
    std::map<std::string, Held> held_;
};

// Which of the photographs `names` of `folder` arrived while no one watched it: changed since
// the journal's last record (a copy, move, link or write changes a file's status time, which no
// tool sets back) and not the image the journal last recorded under their name; oldest written
// first. None for a journal without records: then no watch has ever run there.
std::vector<std::string> arrivedWhileClosed(const std::filesystem::path& folder,
                                            const std::vector<std::string>& names,
                                            const JournalStart& journal);

}  // namespace lathmark
