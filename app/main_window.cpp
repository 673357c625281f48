#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <future>
#include <limits>
#include <numbers>
#include <optional>
#include <thread>

#include "app/bitmap_image.h"
#include "app/captions.h"
#include "app/counter_label.h"
#include "app/drawn_controls.h"
#include "app/fitting_font.h"
#include "app/learning.h"
#include "app/photograph_list.h"
#include "engine/arrivals.h"
#include "engine/counting.h"
#include "engine/folder_watch.h"
#include "engine/photographs.h"
#include "engine/report.h"
#include "engine/settings_file.h"

namespace lathmark {
namespace {

// The layout is given in twips; the window shows 15 twips to a pixel.
constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

QPoint twipsPoint(int x, int y) {
    return {x / kTwipsPerPixel, y / kTwipsPerPixel};
}

// The result image, written into the working directory by every count and read back for
// Image1.
const char* const kResultFile = "test.bmp";

// The most photographs a book holds: as many as its counter has ever shown.
constexpr long long kMostPhotographs = std::numeric_limits<std::int16_t>::max();

// The outline of the REGION on the photograph: a colour no grey photograph of a stack has, and
// neither the counters' red nor the warning colour.
const QColor kRegionOutline{0, 190, 255};

// How the region's rows run across the photograph: along the slope they were read along, about
// the middle of the region (or of the photograph, where the stack was found in it).
RegionSlope regionSlope(const CountResult& result) {
    if (!result.angleHundredths || *result.angleHundredths == 0 || !result.settings.region)
        return {};
    const Region& region = *result.settings.region;
    return {std::tan(*result.angleHundredths / 100.0 * std::numbers::pi / 180.0),
            result.settings.regionFound ? (result.photographWidth - 1) / 2.0
                                        : region.left + (region.width - 1) / 2.0};
}

// Smallest size that the message is shrunk to before it is left to be cut off.
constexpr double kSmallestMessagePoints = 7.0;

enum class Face { Tahoma, MsSansSerif };

// The faces of the layout, or their nearest installed kin: Tahoma is a narrow Verdana, so
// DejaVu Sans (Verdana's build) in its semi-condensed width stands in for it; the older
// MS Sans Serif is as wide as plain DejaVu Sans.
QFont layoutFont(Face face, double points, QFont::Weight weight) {
    // Asking the font database costs a good part of a millisecond, and the message font is
    // made at every pick; the installed fonts do not change while the window is open.
    static const bool hasTahoma = QFontDatabase::hasFamily("Tahoma");
    static const bool hasMsSansSerif = QFontDatabase::hasFamily("MS Sans Serif");
    QFont font;
    if (face == Face::Tahoma) {
        if (hasTahoma) {
            font.setFamily("Tahoma");
        } else {
            font.setFamily("DejaVu Sans");
            font.setStretch(QFont::SemiCondensed);
        }
    } else {
        font.setFamily(hasMsSansSerif ? "MS Sans Serif" : "DejaVu Sans");
    }
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& box, const QString& caption,
                  const QFont& font, Qt::Alignment horizontal) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(box);
    label->setFont(font);
    label->setAlignment(horizontal | Qt::AlignTop);
    return label;
}

QLabel* makePictureBox(QWidget* parent, const char* name, const QRect& box) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(name);
    picture->setGeometry(box);
    picture->setFrameShape(QFrame::Box);
    picture->setLineWidth(1);
    picture->setScaledContents(true);  // stretched to the box whatever its proportions
    return picture;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QRect& box,
                        const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(box);
    button->setFont(layoutFont(Face::MsSansSerif, 9.75, QFont::Bold));
    button->setAutoDefault(false);
    return button;
}

// The journal in the working folder, named whole so that it stays the same file whatever the
// working folder becomes.
std::filesystem::path journalPath() {
    std::error_code error;
    return std::filesystem::current_path(error) / kJournalFile;
}

}  // namespace

Lathmark::Lathmark(std::filesystem::path settingsFile, QWidget* parent)
    : QWidget(parent), station(journalPath()), settingsFile_(std::move(settingsFile)) {
    createControls();
    connectHandlers();
    Form_Load();
}

Lathmark::~Lathmark() {
    delete watchNotifier;  // before the watcher closes the descriptor it listens to
}

void Lathmark::createControls() {
    setObjectName("Lathmark");
    setWindowTitle("Lathmark");
    QIcon icon;
    for (int size : {16, 32, 48, 128})
        icon.addFile(QString(":/lathmark/icons/lathmark-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    resize(11880 / kTwipsPerPixel, 8490 / kTwipsPerPixel);

    const QFont tahoma14Bold = layoutFont(Face::Tahoma, 14.25, QFont::Bold);
    const QFont tahoma18Bold = layoutFont(Face::Tahoma, 18, QFont::Bold);
    const QFont tahoma24 = layoutFont(Face::Tahoma, 24, QFont::Normal);
    const QFont tahoma24Bold = layoutFont(Face::Tahoma, 24, QFont::Bold);
    const QFont tahoma36Bold = layoutFont(Face::Tahoma, 36, QFont::Bold);
    const QFont sansBold = layoutFont(Face::MsSansSerif, 9.75, QFont::Bold);
    const QFont sans = layoutFont(Face::MsSansSerif, 9.75, QFont::Normal);

    // Created in the order of the layout table; later controls lie over earlier ones.
    File1 = new QListWidget(this);
    File1->setObjectName("File1");
    File1->setGeometry(twips(4080, 4320, 1575, 1650));
    File1->setSelectionMode(QAbstractItemView::SingleSelection);
    relistPhotographs(File1, listPhotographs(QDir::currentPath().toStdString()));
    // No entry is current, so the list's first keyboard focus does not quietly make one
    // current: then the first arrow key picks the first photograph, not the second.
    File1->setCurrentIndex(QModelIndex());

    btnExit = makeButton(this, "btnExit", twips(1320, 7320, 2535, 615), "Exit");
    cmdReset = makeButton(this, "cmdReset", twips(1320, 6480, 2535, 615), "New Book");
    Label2 = makeLabel(this, "Label2", twips(120, 4440, 3735, 375), "Select an example file",
                       sansBold, Qt::AlignRight);
    Image2 = makePictureBox(this, "Image2", twips(120, 120, 5535, 4095));
    Label3 = makeLabel(this, "Label3", twips(6000, 4320, 5535, 495), QString(), tahoma14Bold,
                       Qt::AlignHCenter);
    Label3->setWordWrap(true);
    vCount =
        new CounterLabel(this, "vCount", twips(6240, 6840, 855, 495), tahoma24Bold, Qt::AlignLeft);
    Label4 = makeLabel(this, "Label4", twips(4200, 6960, 1935, 375), "Count No.", tahoma18Bold,
                       Qt::AlignLeft);
    Label1 = makeLabel(this, "Label1", twips(7680, 5520, 1935, 735), "MiniBook", tahoma24,
                       Qt::AlignLeft);
    Line2 = new LineShape(this);
    Line2->setObjectName("Line2");
    Line2->setEnds(twipsPoint(7560, 6480), twipsPoint(11520, 6480));
    Shape1 = new RectangleShape(this);
    Shape1->setObjectName("Shape1");
    Shape1->setGeometry(twips(7560, 5160, 3975, 2895));
    pTime =
        makeLabel(this, "pTime", twips(4200, 7560, 3015, 375), QString(), sans, Qt::AlignHCenter);
    vCurrentCount = new CounterLabel(this, "vCurrentCount", twips(9720, 5400, 1695, 975),
                                     tahoma36Bold, Qt::AlignRight);
    Image1 = makePictureBox(this, "Image1", twips(6000, 120, 5535, 4095));
    vTotalCount = new CounterLabel(this, "vTotalCount", twips(9720, 6840, 1695, 975), tahoma36Bold,
                                   Qt::AlignRight);
    TotalCount = makeLabel(this, "TotalCount", twips(7680, 6840, 1935, 855), "Book", tahoma36Bold,
                           Qt::AlignLeft);
    // In the free space under "Select an example file", left of the list and above "New Book".
    lblCertainty = makeLabel(this, "lblCertainty", QRect(8, 326, 250, 102), QString(), sansBold,
                             Qt::AlignRight);
    lblCertainty->setWordWrap(true);
    // Across the foot of the window, under the buttons and the book.
    lblStanding =
        makeLabel(this, "lblStanding", QRect(8, 541, 776, 22), QString(), sansBold, Qt::AlignLeft);
    QPalette standing = lblStanding->palette();
    standing.setColor(QPalette::WindowText, kWarningAmber);
    lblStanding->setPalette(standing);
    // Inside the MiniBook frame, under the book's counter.
    lblBookUncertain = makeLabel(this, "lblBookUncertain", QRect(512, 516, 249, 20), QString(),
                                 sansBold, Qt::AlignRight);
    lblBookUncertain->setPalette(standing);
    // Inside the MiniBook frame, under the photograph's boards: the operator's word on them.
    lblCheck =
        makeLabel(this, "lblCheck", QRect(512, 412, 249, 18), QString(), sansBold, Qt::AlignRight);
    // Over the photograph's boards, while the operator types the true ones.
    txtCorrection = new QLineEdit(this);
    txtCorrection->setObjectName("txtCorrection");
    txtCorrection->setGeometry(twips(7680, 5520, 3735, 615));
    txtCorrection->setFont(tahoma14Bold);
    txtCorrection->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    txtCorrection->setPlaceholderText("true boards");
    txtCorrection->setToolTip(
        "The true number of boards, then a word of why if you like; Enter "
        "applies, Esc leaves the count as it was");
    txtCorrection->hide();
    txtCorrection->installEventFilter(this);
    vCurrentCount->installEventFilter(this);

    journalTimer = new QTimer(this);
    journalTimer->setInterval(2000);

    undoKey = new QShortcut(QKeySequence::Undo, this);
    undoKey->setObjectName("undoKey");
    correctKey = new QShortcut(QKeySequence(Qt::Key_F2), this);
    correctKey->setObjectName("correctKey");
    confirmKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this);
    confirmKey->setObjectName("confirmKey");
    // Ctrl with the keypad's Enter too.
    auto* confirmKeypad = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this);
    connect(confirmKeypad, &QShortcut::activated, confirmKey, &QShortcut::activated);
    learnKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    learnKey->setObjectName("learnKey");
    learningTimer = new QTimer(this);
    learningTimer->setInterval(100);

    // Only the buttons and the list take the keyboard; "New Book" has it first.
    setTabOrder(cmdReset, btnExit);
    setTabOrder(btnExit, File1);
    cmdReset->setFocus();
}

void Lathmark::connectHandlers() {
    // A pick is a change of the selected entry, by mouse or keys. The current entry alone is
    // not a pick: it can move without a selection (Ctrl with an arrow key), and that must not
    // count a photograph.
    connect(File1, &QListWidget::itemSelectionChanged, this, &Lathmark::File1_Click);
    connect(cmdReset, &QPushButton::clicked, this, &Lathmark::cmdReset_Click);
    connect(btnExit, &QPushButton::clicked, this, &Lathmark::btnExit_Click);
    connect(undoKey, &QShortcut::activated, this, &Lathmark::undo_Activated);
    connect(correctKey, &QShortcut::activated, this, &Lathmark::correct_Activated);
    connect(confirmKey, &QShortcut::activated, this, &Lathmark::confirm_Activated);
    connect(txtCorrection, &QLineEdit::returnPressed, this, &Lathmark::correctionEntered);
    connect(learnKey, &QShortcut::activated, this, &Lathmark::learn_Activated);
    connect(learningTimer, &QTimer::timeout, this, &Lathmark::learningDone);
    connect(journalTimer, &QTimer::timeout, this, &Lathmark::showStanding);
}

void Lathmark::Form_Load() {
    readSettingsFile();
    const Station::Start start = station.start(settings);
    showBook();
    if (!start.message.empty())
        showMessage(fromNative(start.message), start.warning ? Tone::Warning : Tone::Plain);
    else
        showStanding();
    startWatching();
    if (settings.watch) watchSettingsFile();
}

void Lathmark::readSettingsFile() {
    const SettingsRead read = readSettings(settingsFile_);
    // WATCH is taken at start only: the folder's watch is not started or stopped on the way.
    const bool watch = settings.watch;
    const bool started = settingsWatcher != nullptr;
    settings = read.settings;
    if (started) settings.watch = watch;
    settingsProblems_ = read.problems;
    settingsWarnings_ = read.warnings;
    settingsDoubt = lathmark::settingsDoubt(read, {});
}

// Editors save a file by writing it in place or by writing another and renaming it over the
// first; the folder is watched too so that the second kind is seen, and the file is read once
// things have settled.
void Lathmark::watchSettingsFile() {
    settingsWatcher = new QFileSystemWatcher(this);
    settingsWatcher->addPath(QString::fromStdString(settingsFile_.string()));
    settingsWatcher->addPath(QString::fromStdString(settingsFile_.parent_path().string()));
    settingsTimer = new QTimer(this);
    settingsTimer->setSingleShot(true);
    settingsTimer->setInterval(300);
    connect(settingsWatcher, &QFileSystemWatcher::fileChanged, settingsTimer,
            qOverload<>(&QTimer::start));
    connect(settingsWatcher, &QFileSystemWatcher::directoryChanged, settingsTimer,
            qOverload<>(&QTimer::start));
    connect(settingsTimer, &QTimer::timeout, this, &Lathmark::settingsFileChanged);
}

void Lathmark::settingsFileChanged() {
    // A file renamed over the watched one is a new file, no longer watched.
    const QString file = QString::fromStdString(settingsFile_.string());
    if (!settingsWatcher->files().contains(file)) settingsWatcher->addPath(file);
    const Settings before = settings;
    const std::vector<std::string> problemsBefore = settingsProblems_;
    const std::vector<std::string> warningsBefore = settingsWarnings_;
    readSettingsFile();
    if (settings == before && settingsProblems_ == problemsBefore &&
        settingsWarnings_ == warningsBefore)
        return;
    std::string message = settingsFile_.filename().string() + " was changed: counting now with " +
                          countingSettingsText(settings);
    if (settings != before)
        if (const std::string note = station.settingsChanged(settings); !note.empty())
            message += ". " + note;
    showMessage(fromNative(message), settingsDoubt.empty() ? Tone::Plain : Tone::Warning);
}

void Lathmark::reportSettingsProblems() {
    if (settingsProblems_.empty() && settingsWarnings_.empty()) return;
    SettingsRead read;
    read.settings = settings;
    read.problems = settingsProblems_;
    read.warnings = settingsWarnings_;
    QMessageBox::warning(this, "Lathmark", fromNative(settingsProblemsText(settingsFile_, read)));
}

void Lathmark::File1_Click() {
    const QList<QListWidgetItem*> picked = File1->selectedItems();
    if (picked.isEmpty()) return;  // the selection was only cleared; nothing was picked
    selectedFile = photographName(picked.front());
    countSelectedFile();
}

bool Lathmark::countSelectedFile(const StepResult<JpegPhotograph>* read, bool arrived) {
    closeCorrection();
    if (station.book().photographs() >= kMostPhotographs) {
        const std::string reason = "this book already holds " + std::to_string(kMostPhotographs) +
                                   " photographs, the most it can";
        const std::string note = station.refused(selectedFile, reason);
        showRefusal(fromNative(selectedFile + " not counted: " + reason +
                               ". Press \"New Book\" to go on." +
                               (note.empty() ? "" : " " + note)));
        return true;
    }

    startTicks = tickCount();
    const CountOptions options{.keepPhotograph = true,
                               .stability = true,
                               .stabilityLater = true,
                               .settingsDoubt = settingsDoubt};
    CountResult result;
    if (!read) {
        result = countBoards(selectedFile, settings, options);
    } else if (read->ok()) {
        result = countJpeg(read->value, selectedFile, settings, options);
    } else {
        result.file = selectedFile;
        result.error = CountError{selectedFile, *read->failure};
    }
    if (arrived &&
        !arrivals->settle(selectedFile,
                          result.ok() ? std::nullopt : std::optional(result.error->reason)))
        return false;
    if (!result.ok()) {
        const std::string note = station.refused(selectedFile, result.error->reason, result.digest);
        showRefusal(fromNative(result.error->message() + (note.empty() ? "" : " " + note)));
        return true;
    }

    // The pictures are scaled down to their boxes once here, rather than at every paint. The
    // photograph's is made on another core while the result image is written, read back and
    // made ready, and the journal written; the stability ranges are being found from the
    // photograph meanwhile too, and are waited for before the count goes into the book.
    const QSize photographBox = Image2->contentsRect().size() * Image2->devicePixelRatioF();
    std::future<QImage> shownPhotograph =
        std::async(std::launch::async | std::launch::deferred, [&result, photographBox] {
            QImage picture = toShownImage(result.photograph.get(), photographBox);
            if (const std::optional<Region>& region = result.settings.region)
                outlineRegion(picture, {result.photographWidth, result.photographHeight}, *region,
                              kRegionOutline, regionSlope(result));
            return picture;
        });

    std::string fileNote;
    QImage marked = resultImage(result, fileNote);
    finishCount(result, options);
    // Into the book and the journal, and onto the disk, before the counters show it.
    const Station::CountShown shown =
        station.countShown(selectedFile, result, fileNote, QLocale().decimalPoint().toStdString());

    // Handed over rather than copied: the pixmaps may take the images' pixels as they are.
    Image2->setPixmap(QPixmap::fromImage(shownPhotograph.get()));
    result.photograph.reset();
    Image1->setPixmap(QPixmap::fromImage(std::move(marked)));
    showMessage(fromNative(shown.message));
    showCertainty(fromNative(shown.certainty.text), shown.certainty.warning);
    showBoardsOfPhotograph(shown.boards, shown.uncertain);
    correctable = true;
    showCheck();
    showBook();
    const std::uint32_t elapsed = elapsedMilliseconds(startTicks, tickCount());
    pTime->setText(QString::fromStdString(
        processTimeCaption(elapsed, QLocale().decimalPoint().toStdString())));
    return true;
}

// Image1 shows what the file on disk holds; if it cannot be written or read back, the picture
// comes from memory, so it is never the image of an earlier count, and `note` says why.
// Something other than a file in the way (a pipe would hold the window up for ever) is never
// written.
QImage Lathmark::resultImage(CountResult& result, std::string& note) {
    QImage marked;
    if (auto failure = writeBmp(result.marked.get(), kResultFile))
        note = *failure + "; the counts stand.";
    else if (!marked.load(kResultFile, "BMP"))
        note = std::string(kResultFile) + " could not be read back; the counts stand.";
    if (marked.isNull()) marked = toQImage(result.marked.get());
    result.marked.reset();
    return toShownImage(marked, Image1->contentsRect().size() * Image1->devicePixelRatioF());
}

// Nothing was counted: say why in red and take down the pictures, time and certainty of the
// previous count, which would otherwise seem to belong to the file just picked.
void Lathmark::showRefusal(const QString& message) {
    correctable = false;
    showCheck();
    Image1->clear();
    Image2->clear();
    pTime->clear();
    showCertainty(QString(), false);
    showBoardsOfPhotograph(vCurrentCount->text().toLongLong(), false);
    showMessage(message, Tone::Refusal);
}

void Lathmark::showMessage(const QString& message, Tone tone) {
    QPalette palette = this->palette();
    if (tone != Tone::Plain)
        palette.setColor(QPalette::WindowText, tone == Tone::Refusal ? kCounterRed : kWarningAmber);
    Label3->setPalette(palette);
    const QFont designFont = layoutFont(Face::Tahoma, 14.25, QFont::Bold);
    const QString text = breakableText(message);
    const QFont font = fontFittingWrapped(designFont, text, Label3->contentsRect(),
                                          Label3->alignment(), kSmallestMessagePoints);
    Label3->setFont(font);
    Label3->setText(text);
    // A message shrunk to fit is hard to read; the tooltip shows it whole.
    Label3->setToolTip(font.pointSizeF() < designFont.pointSizeF() ? message : QString());
    // Every event shows a message: the journal may have fallen behind, a photograph's mark
    // changed.
    showStanding();
    showMarks();
}

void Lathmark::showBook() {
    vCount->setNumber(station.book().photographs());
    vTotalCount->setNumber(station.book().boards());
    lblBookUncertain->setText(QString::fromStdString(uncertainText(station.book().uncertain())));
    showMarks();
}

void Lathmark::showMarks() {
    markPhotographs(File1, [this](const std::string& file) { return station.mark(file); });
}

void Lathmark::showStanding() {
    // While the journal is behind, it is tried again every few seconds.
    station.catchUp();
    const std::string behind = station.behindText();
    if (behind.empty())
        journalTimer->stop();
    else if (!journalTimer->isActive())
        journalTimer->start();
    std::string standing = folderStanding;
    if (!settingsDoubt.empty())
        standing += (standing.empty() ? "" : ". ") +
                    settingsStanding(settingsDoubt, settingsFile_.string());
    if (!behind.empty()) standing += (standing.empty() ? "" : ". ") + behind;
    if (learning) standing += (standing.empty() ? "" : ". ") + learning->progressText();
    const QString text = breakableText(fromNative(standing));
    const QFont designFont = layoutFont(Face::MsSansSerif, 9.75, QFont::Bold);
    lblStanding->setFont(fontFittingWrapped(designFont, text, lblStanding->contentsRect(),
                                            lblStanding->alignment(), kSmallestMessagePoints));
    lblStanding->setText(text);
    lblStanding->setToolTip(text);
}

void Lathmark::showCertainty(const QString& text, bool warning) {
    QPalette palette = this->palette();
    if (warning) palette.setColor(QPalette::WindowText, kWarningAmber);
    lblCertainty->setPalette(palette);
    // The settings file is named by its name here; the standing line and the journal name it
    // whole. A long reason is lettered smaller to fit, and shown whole in the tooltip.
    QString shown = text;
    shown.replace(fromNative(settingsFile_.string()),
                  fromNative(settingsFile_.filename().string()));
    const QFont designFont = layoutFont(Face::MsSansSerif, 9.75, QFont::Bold);
    const QFont font = fontFittingWrapped(designFont, shown, lblCertainty->contentsRect(),
                                          lblCertainty->alignment(), kSmallestMessagePoints);
    lblCertainty->setFont(font);
    lblCertainty->setText(shown);
    lblCertainty->setToolTip(font.pointSizeF() < designFont.pointSizeF() ? text : QString());
}

// The boards of the photograph, in the counters' red, or in the warning colour while the count
// shown is uncertain: the number the operator reads at a glance.
void Lathmark::showBoardsOfPhotograph(long long boards, bool uncertain) {
    QPalette palette = vCurrentCount->palette();
    palette.setColor(QPalette::WindowText, uncertain ? kWarningAmber : kCounterRed);
    vCurrentCount->setPalette(palette);
    vCurrentCount->setNumber(boards);
}

void Lathmark::cmdReset_Click() {
    closeCorrection();
    const std::string note = station.newBook();
    correctable = false;
    showCheck();
    showBook();
    showBoardsOfPhotograph(0, false);
    if (!note.empty()) showMessage(fromNative(note), Tone::Warning);
}

void Lathmark::btnExit_Click() {
    close();
}

void Lathmark::closeEvent(QCloseEvent* event) {
    station.exit();  // a journal that fails now has nobody left to hear of it
    QWidget::closeEvent(event);
}

// Takes the book's last act back. A count taken back takes its pictures and certainty with it,
// as they no longer belong to the book, and the selection goes too, so that the photograph can
// be picked again at once; the operator's word taken back leaves the count as it was counted
// (or as the word before made it).
void Lathmark::undo_Activated() {
    closeCorrection();
    std::string note;
    const std::optional<StationBook::TakenBack> taken = station.takeBack(note);
    if (!taken) {
        showMessage("Nothing to take back: this book has no count left.");
        return;
    }
    if (taken->check) {
        if (const BookCount* count = shownCount())
            showBoardsOfPhotograph(count->held(), count->uncertain && !count->checked());
        showCheck();
    } else {
        Image1->clear();
        Image2->clear();
        pTime->clear();
        showCertainty(QString(), false);
        File1->clearSelection();
        correctable = false;
        showCheck();
        showBoardsOfPhotograph(0, false);
    }
    showBook();
    showMessage(fromNative(takenBackMessage(*taken) + (note.empty() ? "" : " " + note)),
                note.empty() ? Tone::Plain : Tone::Warning);
}

const BookCount* Lathmark::shownCount() const {
    const std::vector<BookCount>& counts = station.book().counts();
    return correctable && !counts.empty() ? &counts.back() : nullptr;
}

// Under the photograph's boards: "corrected, counted 19" or "confirmed", in the colour of the
// boards.
void Lathmark::showCheck() {
    const BookCount* count = shownCount();
    lblCheck->setText(count ? fromNative(checkMark(*count)) : QString());
    lblCheck->setPalette(vCurrentCount->palette());
}

void Lathmark::correct_Activated() {
    const BookCount* count = shownCount();
    if (!count) {
        showMessage("Nothing to correct: pick a photograph, and its count can be corrected.");
        return;
    }
    if (txtCorrection->isVisible()) return;
    txtCorrection->setText(QString::number(count->held()));
    txtCorrection->selectAll();
    txtCorrection->show();
    txtCorrection->raise();
    txtCorrection->setFocus();
    showMessage(fromNative("Type the true boards of " + count->file +
                           " (and a word of why, if you like): Enter applies, Esc leaves it as "
                           "it was."));
}

void Lathmark::correctionEntered() {
    const CorrectionTyped typed = parseCorrection(txtCorrection->text().toStdString());
    if (typed.problem) {
        // The field stays open for the operator to mend what was typed.
        showMessage(fromNative(*typed.problem + ": \"21\" or \"21 two sheets glued\"."),
                    Tone::Warning);
        return;
    }
    closeCorrection();
    std::string note;
    showChecked(station.check(JournalEvent::Correct, typed.boards, typed.reason, note), note);
}

// Closes the field, if it is open, with nothing changed; the keyboard goes back to the list.
void Lathmark::closeCorrection() {
    if (!txtCorrection->isVisible()) return;
    txtCorrection->hide();
    File1->setFocus();
}

void Lathmark::confirm_Activated() {
    if (txtCorrection->isVisible()) return;
    const BookCount* shown = shownCount();
    if (!shown) {
        showMessage("Nothing to confirm: pick a photograph, and its count can be confirmed.");
        return;
    }
    if (shown->checked() && shown->checks.back().event == JournalEvent::Confirm) {
        showMessage(fromNative(shown->file + " is confirmed already."));
        return;
    }
    std::string note;
    showChecked(station.check(JournalEvent::Confirm, shown->held(), {}, note), note);
}

// The operator's word on the count shown, in MiniBook, the book and the message.
void Lathmark::showChecked(const std::optional<BookCount>& count, const std::string& note) {
    if (!count) return;
    showBoardsOfPhotograph(count->held(), false);
    showCheck();
    showBook();
    showMessage(fromNative(checkedMessage(*count) + (note.empty() ? "" : " " + note)),
                note.empty() ? Tone::Plain : Tone::Warning);
}

void Lathmark::learn_Activated() {
    if (learning) {
        showMessage(fromNative(learning->progressText()));
        return;
    }
    const int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    learning = std::make_unique<Learning>(journalPath(), settings, jobs);
    learningTimer->start();
    showMessage(fromNative("Learning settings from " + std::string(kJournalFile) +
                           ": the window goes on counting meanwhile."));
}

// Called every tenth of a second while the settings are learnt: the progress in the standing
// line, and once done, the choice put to the operator.
void Lathmark::learningDone() {
    if (!learning) return;
    if (!learning->done()) {
        showStanding();
        return;
    }
    learningTimer->stop();
    const std::unique_ptr<Learning> finished = std::move(learning);
    showStanding();
    Learnt learnt = finished->take();
    const std::string journal = finished->journal().filename().string();
    if (!learnt.calibration) {
        showMessage(fromNative("Nothing learnt: " + learnt.error), Tone::Warning);
        return;
    }
    std::string text = "Learnt from " + journal + ": " +
                       learntText(finished->current(), *learnt.calibration) + ".";
    // The photographs left out, a few by name: a long list would not fit a question.
    constexpr std::size_t kNamedNotes = 5;
    const std::vector<std::string>& notes = learnt.truth.notes;
    for (std::size_t i = 0; i < notes.size() && i < kNamedNotes; ++i) text += "\n" + notes[i];
    if (notes.size() > kNamedNotes)
        text += "\n(and " + std::to_string(notes.size() - kNamedNotes) + " more left out)";
    const std::string file = settingsFile_.filename().string();
    if (!learntChanges(finished->current(), *learnt.calibration)) {
        QMessageBox::information(this, "Lathmark", fromNative(text));
        showMessage(fromNative(text.substr(0, text.find('\n'))));
        return;
    }
    text += "\n\nWrite them to " + file + "? The old file is kept as " + file + ".bak.";
    const auto answer = QMessageBox::question(this, "Lathmark", fromNative(text),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        showMessage(fromNative(file + " stays as it was."));
        return;
    }
    if (auto failure = writeLearntSettings(settingsFile_, *learnt.calibration, finished->current(),
                                           finished->journal())) {
        showMessage(fromNative(*failure), Tone::Warning);
        return;
    }
    readSettingsFile();
    std::string message = file + " written: counting now with " + countingSettingsText(settings);
    if (const std::string note = station.settingsChanged(settings); !note.empty())
        message += ". " + note;
    showMessage(fromNative(message), settingsDoubt.empty() ? Tone::Plain : Tone::Warning);
}

bool Lathmark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == vCurrentCount && event->type() == QEvent::MouseButtonDblClick) {
        correct_Activated();
        return true;
    }
    if (watched == txtCorrection && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        closeCorrection();
        showMessage("The count stands as it was.");
        return true;
    }
    if (watched == txtCorrection && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        // A click elsewhere leaves the count as it was, as Esc does.
        QTimer::singleShot(0, this, &Lathmark::closeCorrection);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace lathmark
