#include "app/main_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <filesystem>
#include <future>
#include <limits>
#include <optional>

#include "app/bitmap_image.h"
#include "app/captions.h"
#include "app/counter_label.h"
#include "app/drawn_controls.h"
#include "app/fitting_font.h"
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

    journalTimer = new QTimer(this);
    journalTimer->setInterval(2000);

    undoKey = new QShortcut(QKeySequence::Undo, this);
    undoKey->setObjectName("undoKey");

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
    const CountOptions options{
        .keepPhotograph = true, .stability = true, .settingsDoubt = settingsDoubt};
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
    // made ready, and the journal written; nothing else touches the photograph meanwhile.
    const QSize photographBox = Image2->contentsRect().size() * Image2->devicePixelRatioF();
    std::future<QImage> shownPhotograph =
        std::async(std::launch::async | std::launch::deferred, [&result, photographBox] {
            QImage picture = toShownImage(result.photograph.get(), photographBox);
            if (result.settings.region)
                outlineRegion(picture, {result.photographWidth, result.photographHeight},
                              *result.settings.region, kRegionOutline);
            return picture;
        });

    QString message = QString::fromStdString(detectionMessage(result.boards()));
    if (!result.warning.empty())
        message += " " + fromNative(selectedFile + ": " + result.warning) + ".";

    // Image1 shows what the file on disk holds; if it cannot be written or read back, the
    // picture comes from memory, so it is never the image of an earlier count. Something other
    // than a file in the way (a pipe would hold the window up for ever) is never written.
    QImage marked;
    if (auto failure = writeBmp(result.marked.get(), kResultFile)) {
        message += " " + fromNative(*failure) + "; the counts stand.";
    } else if (!marked.load(kResultFile, "BMP")) {
        message += QString(" %1 could not be read back; the counts stand.").arg(kResultFile);
    }
    if (marked.isNull()) marked = toQImage(result.marked.get());
    result.marked.reset();
    marked = toShownImage(marked, Image1->contentsRect().size() * Image1->devicePixelRatioF());

    const BookCount* holder = station.book().holding(result.digest);
    const CertaintyLine certainty =
        certaintyLine(result, holder ? std::optional(holder->file) : std::nullopt,
                      QLocale().decimalPoint().toStdString());
    // Into the journal, and onto the disk, before the counters show it.
    if (const std::string note = station.count(selectedFile, result); !note.empty())
        message += " " + fromNative(note);

    // Handed over rather than copied: the pixmaps may take the images' pixels as they are.
    Image2->setPixmap(QPixmap::fromImage(shownPhotograph.get()));
    result.photograph.reset();
    Image1->setPixmap(QPixmap::fromImage(std::move(marked)));
    showMessage(message);
    showCertainty(fromNative(certainty.text), certainty.warning);
    showBoardsOfPhotograph(result.boards(), result.certainty.uncertain);
    showBook();
    const std::uint32_t elapsed = elapsedMilliseconds(startTicks, tickCount());
    pTime->setText(QString::fromStdString(
        processTimeCaption(elapsed, QLocale().decimalPoint().toStdString())));
    return true;
}

// Nothing was counted: say why in red and take down the pictures, time and certainty of the
// previous count, which would otherwise seem to belong to the file just picked.
void Lathmark::showRefusal(const QString& message) {
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
    const std::string note = station.newBook();
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

// Takes the book's last count back. The counters go back, and the pictures and certainty of
// that count go, as they no longer belong to the book; the selection goes too, so that the
// photograph can be picked again at once.
void Lathmark::undo_Activated() {
    std::string note;
    const std::optional<StationBook::TakenBack> taken = station.takeBack(note);
    if (!taken) {
        showMessage("Nothing to take back: this book has no count left.");
        return;
    }
    Image1->clear();
    Image2->clear();
    pTime->clear();
    showCertainty(QString(), false);
    File1->clearSelection();
    showBoardsOfPhotograph(0, false);
    showBook();
    showMessage(fromNative(takenBackMessage(*taken) + (note.empty() ? "" : " " + note)),
                note.empty() ? Tone::Plain : Tone::Warning);
}

}  // namespace lathmark
