#include "app/main_window.h"

#include <QDir>
#include <QFontDatabase>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <filesystem>
#include <limits>
#include <optional>

#include "app/bitmap_image.h"
#include "app/captions.h"
#include "app/counter_label.h"
#include "app/drawn_controls.h"
#include "app/fitting_font.h"
#include "engine/counting.h"
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

// Where the native bytes of a listed file name are kept, so that a name the locale cannot
// spell still opens the right file.
constexpr int kNativeNameRole = Qt::UserRole;

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

QString fromNative(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Lathmark::Lathmark(std::filesystem::path settingsFile, QWidget* parent)
    : QWidget(parent), settingsFile_(std::move(settingsFile)) {
    createControls();
    connectHandlers();
    Form_Load();
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
    for (const std::string& name : listPhotographs(QDir::currentPath().toStdString())) {
        auto* item = new QListWidgetItem(fromNative(name), File1);
        item->setData(kNativeNameRole, QByteArray::fromStdString(name));
    }
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
}

void Lathmark::Form_Load() {
    const SettingsRead read = readSettings(settingsFile_);
    settings = read.settings;
    settingsProblems_ = read.problems;
    settingsWarnings_ = read.warnings;
    bookTotal = 0;
    imageCount = 0;
}

void Lathmark::reportSettingsProblems() {
    if (settingsProblems_.empty() && settingsWarnings_.empty()) return;
    const SettingsRead read{settings, settingsProblems_, settingsWarnings_};
    QMessageBox::warning(this, "Lathmark", fromNative(settingsProblemsText(settingsFile_, read)));
}

void Lathmark::File1_Click() {
    const QList<QListWidgetItem*> picked = File1->selectedItems();
    if (picked.isEmpty()) return;  // the selection was only cleared; nothing was picked
    selectedFile = picked.front()->data(kNativeNameRole).toByteArray().toStdString();
    countSelectedFile();
}

void Lathmark::countSelectedFile() {
    if (imageCount == std::numeric_limits<std::int16_t>::max()) {
        showRefusal(QString("%1 not counted: this book already holds %2 photographs, the most "
                            "it can. Press \"New Book\" to go on.")
                        .arg(fromNative(selectedFile))
                        .arg(imageCount));
        return;
    }

    imageLines = 0;
    startTicks = tickCount();
    CountResult result = countBoards(selectedFile, settings, {.keepPhotograph = true});
    if (!result.ok()) {
        showRefusal(fromNative(result.error->message()));
        return;
    }

    QImage photograph = toQImage(result.photograph.get());
    result.photograph.reset();

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

    imageCount = static_cast<std::int16_t>(imageCount + 1);
    imageLines = result.boards();
    bookTotal += imageLines;

    // Handed over rather than copied: the pixmaps may take the images' pixels as they are.
    Image2->setPixmap(QPixmap::fromImage(std::move(photograph)));
    Image1->setPixmap(QPixmap::fromImage(monoToRgb32(marked)));
    showMessage(message, false);
    vCount->setNumber(imageCount);
    vCurrentCount->setNumber(imageLines);
    vTotalCount->setNumber(bookTotal);
    const std::uint32_t elapsed = elapsedMilliseconds(startTicks, tickCount());
    pTime->setText(QString::fromStdString(
        processTimeCaption(elapsed, QLocale().decimalPoint().toStdString())));
}

// Nothing was counted: say why in red and take down the pictures and time of the previous
// count, which would otherwise seem to belong to the file just picked.
void Lathmark::showRefusal(const QString& message) {
    Image1->clear();
    Image2->clear();
    pTime->clear();
    showMessage(message, true);
}

void Lathmark::showMessage(const QString& message, bool failure) {
    QPalette palette = this->palette();
    if (failure) palette.setColor(QPalette::WindowText, kCounterRed);
    Label3->setPalette(palette);
    const QFont designFont = layoutFont(Face::Tahoma, 14.25, QFont::Bold);
    const QFont font = fontFittingWrapped(designFont, message, Label3->contentsRect(),
                                          Label3->alignment(), kSmallestMessagePoints);
    Label3->setFont(font);
    Label3->setText(message);
    // A message shrunk to fit is hard to read; the tooltip shows it whole.
    Label3->setToolTip(font.pointSizeF() < designFont.pointSizeF() ? message : QString());
}

void Lathmark::cmdReset_Click() {
    bookTotal = 0;
    imageCount = 0;
    vCount->setNumber(0);
    vTotalCount->setNumber(0);
    vCurrentCount->setNumber(0);
}

void Lathmark::btnExit_Click() {
    close();
}

}  // namespace lathmark
