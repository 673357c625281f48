#pragma once
// The Lathmark window: the list of photographs, the photograph and its result image side by
// side, the detection message, how sure the count is, the book counters and the processing
// time. The window shows the book's state; the station (app/station.h) keeps the book and its
// journal, and the engine does the counting.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/station.h"
#include "engine/preparation.h"

class QCloseEvent;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QShortcut;
class QSocketNotifier;
class QTimer;

namespace lathmark {

class Arrivals;
class CounterLabel;
struct Learning;
class FolderWatcher;
class LineShape;
class RectangleShape;
class LathmarkTestAccess;

class Lathmark : public QWidget {
    Q_OBJECT

  public:
    // Builds the window, lists the photographs of the working directory and reads the settings
    // from `settingsFile`. Shows nothing yet: problems and warnings of the settings wait for
    // reportSettingsProblems(), so that the window can be built without a dialog.
    explicit Lathmark(std::filesystem::path settingsFile = defaultSettingsPath(),
                      QWidget* parent = nullptr);
    ~Lathmark() override;

    // What was wrong with the settings file when the window was built; empty if nothing.
    const std::vector<std::string>& settingsProblems() const { return settingsProblems_; }
    // What makes the file likely not to say what was meant; the window goes on as with none.
    const std::vector<std::string>& settingsWarnings() const { return settingsWarnings_; }

    // Shows the settings problems and warnings, if any, in one warning dialog and waits for the
    // operator.
    void reportSettingsProblems();

  protected:
    // The end of the session, however the window is closed, goes into the journal.
    void closeEvent(QCloseEvent* event) override;
    // A double click on the photograph's boards opens the correction; Esc closes it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class LathmarkTestAccess;

    // How a message is lettered: as the layout has it, in the counters' red for a photograph
    // that was not counted, or in the warning colour for what may be wrong.
    enum class Tone { Plain, Refusal, Warning };

    void createControls();
    void connectHandlers();

    void Form_Load();
    void File1_Click();
    void cmdReset_Click();
    void btnExit_Click();
    void undo_Activated();

    // The operator's word on the count shown: F2 (or a double click on the boards) opens a
    // field for the true boards, Enter applies it, Esc leaves everything as it was; Ctrl+Enter
    // confirms the count as it stands.
    void correct_Activated();
    void correctionEntered();
    void closeCorrection();
    void confirm_Activated();
    void showChecked(const std::optional<BookCount>& count, const std::string& note);
    // The count of the book that MiniBook shows, if it shows one.
    const BookCount* shownCount() const;
    void showCheck();

    // Ctrl+L: the settings that count the journal's photographs right, found on another thread
    // while the window goes on counting; written to the settings file if the operator says so.
    void learn_Activated();
    void learningDone();

    // Counts the photograph in selectedFile (from `read` if it was read already) and shows the
    // result, or why there is none. A photograph that `arrived` and is refused as unfinished is
    // held back instead: nothing is shown or recorded, and false is returned.
    bool countSelectedFile(const StepResult<JpegPhotograph>* read = nullptr, bool arrived = false);
    void showRefusal(const QString& message);
    QImage resultImage(CountResult& result, std::string& note);
    void showMessage(const QString& message, Tone tone = Tone::Plain);
    void showCertainty(const QString& text, bool warning);
    void showBoardsOfPhotograph(long long boards, bool uncertain);
    // The standing line at the foot of the window: what stays wrong until it is mended.
    void showStanding();
    // The book's counters, its uncertain counts, and the list's marks of its photographs.
    void showBook();
    void showMarks();

    // The settings file: read at start, and (WATCH=1) again whenever it is changed.
    void readSettingsFile();
    void watchSettingsFile();
    void settingsFileChanged();

    // The watched working folder (WATCH=1): photographs that arrive join the list in their
    // place and are counted; those that leave, leave it.
    void startWatching();
    void folderChanged();
    void rereadFolder();
    void armWatchTimer();
    void photographArrived(const std::string& name);
    void refuseArrival(const std::string& name, const std::string& reason,
                       const std::optional<PhotographDigest>& digest, const std::string& countedAs);
    void pickQuietly(const std::string& name);

    // Controls, named as the operator's manual names them.
    QListWidget* File1 = nullptr;
    QPushButton* btnExit = nullptr;
    QPushButton* cmdReset = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label3 = nullptr;
    CounterLabel* vCount = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    LineShape* Line2 = nullptr;
    RectangleShape* Shape1 = nullptr;
    QLabel* pTime = nullptr;
    CounterLabel* vCurrentCount = nullptr;
    QLabel* Image1 = nullptr;
    CounterLabel* vTotalCount = nullptr;
    QLabel* TotalCount = nullptr;
    QLabel* lblCertainty = nullptr;      // how sure the latest count is
    QLabel* lblStanding = nullptr;       // what stays wrong until it is mended
    QLabel* lblBookUncertain = nullptr;  // "(2 uncertain)" by the book's counter
    QShortcut* undoKey = nullptr;        // Ctrl+Z: the book's last count taken back
    QShortcut* correctKey = nullptr;     // F2: the count shown corrected
    QShortcut* confirmKey = nullptr;     // Ctrl+Enter: the count shown confirmed
    QShortcut* learnKey = nullptr;       // Ctrl+L: settings learnt from the journal
    QLineEdit* txtCorrection = nullptr;  // the true boards, over the photograph's
    QLabel* lblCheck = nullptr;          // "corrected, counted 19" under the photograph's boards
    QTimer* journalTimer = nullptr;      // tries the journal's records kept back again

    // Settings, read at start (and with WATCH=1 whenever the file changes): BDLINE, THRESHOLD,
    // STRETCH, REGION, THICKNESS and WATCH; and why every count with them may be wrong, if the
    // file has a mistake.
    Settings settings;
    std::string settingsDoubt;
    QFileSystemWatcher* settingsWatcher = nullptr;
    QTimer* settingsTimer = nullptr;

    // The current photograph; the book and its journal.
    std::string selectedFile;  // picked name, without folder, as the file system spells it
    bool correctable = false;  // MiniBook shows the book's last count, which can be corrected
    std::uint32_t startTicks = 0;
    Station station;

    // The working folder, its watch, and (WATCH=1) the rule its arrivals are counted by.
    std::filesystem::path folder;
    std::unique_ptr<FolderWatcher> watcher;
    QSocketNotifier* watchNotifier = nullptr;
    QTimer* watchTimer = nullptr;
    std::unique_ptr<Arrivals> arrivals;
    std::string folderStanding;  // why nothing can be counted now, if something keeps it

    // Settings being learnt from the journal on another thread, and how far it has come.
    std::unique_ptr<Learning> learning;
    QTimer* learningTimer = nullptr;

    std::filesystem::path settingsFile_;
    std::vector<std::string> settingsProblems_;
    std::vector<std::string> settingsWarnings_;
};

}  // namespace lathmark
