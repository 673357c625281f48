#pragma once
// The Lathmark window: the list of photographs, the photograph and its result image side by
// side, the detection message, the book counters and the processing time. The window keeps
// the book's state and shows it; the engine does the counting.

#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace lathmark {

class CounterLabel;
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

    // What was wrong with the settings file when the window was built; empty if nothing.
    const std::vector<std::string>& settingsProblems() const { return settingsProblems_; }
    // What makes the file likely not to say what was meant; the window goes on as with none.
    const std::vector<std::string>& settingsWarnings() const { return settingsWarnings_; }

    // Shows the settings problems and warnings, if any, in one warning dialog and waits for the
    // operator.
    void reportSettingsProblems();

  private:
    friend class LathmarkTestAccess;

    void createControls();
    void connectHandlers();

    void Form_Load();
    void File1_Click();
    void cmdReset_Click();
    void btnExit_Click();

    // Counts the photograph in selectedFile and shows the result, or why there is none.
    void countSelectedFile();
    void showRefusal(const QString& message);
    void showMessage(const QString& message, bool failure);

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

    // Settings, read once at start: BDLINE, THRESHOLD and STRETCH.
    Settings settings;

    // The current photograph and book.
    std::string selectedFile;     // picked name, without folder, as the file system spells it
    std::int64_t imageLines = 0;  // boards of the latest counted photograph
    std::int16_t imageCount = 0;  // photographs counted in this book
    std::int64_t bookTotal = 0;   // boards counted in this book
    std::uint32_t startTicks = 0;

    std::filesystem::path settingsFile_;
    std::vector<std::string> settingsProblems_;
    std::vector<std::string> settingsWarnings_;
};

}  // namespace lathmark
