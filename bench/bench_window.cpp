// Speed of a pick in the window: from the change of the list's selection to the pictures and
// captions being set, against a bare FreeImage_Load of the same photograph.
//
// The window is the real one, on Qt's offscreen platform unless a display is chosen, working
// in a temporary folder that holds two copies of the photograph (768 x 576, a camera frame, and
// 2448 x 2048, a 5-megapixel station camera's), so that every pick changes the selection. A pick is
// handled synchronously: when setCurrentRow() returns, the captions are set. Painting them is timed
// on its own (paint_ms) and does not enter the ratio.

#include <FreeImage.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/bitmap_image.h"
#include "app/main_window.h"
#include "bench/fixtures.h"
#include "bench/timing.h"
#include "engine/calibration_search.h"
#include "engine/counting.h"
#include "engine/journal.h"
#include "engine/preparation.h"
#include "engine/report.h"
#include "engine/settings_file.h"
#include "engine/truth.h"

namespace {

using namespace lathmark;

// The most a pick may take, as a multiple of decoding the photograph: a small photograph's and a
// station camera's (whose decode is long enough for the rest to hide beside it).
constexpr double kPickToDecodeTarget = 2.0;
constexpr double kLargePickToDecodeTarget = 1.5;
constexpr int kLargePickWidth = 2448;

// The application a window needs, made on first use on Qt's offscreen platform unless a
// platform is chosen. It is never destroyed: it lives as long as the process, as in a program.
QApplication& application() {
    static QApplication* const made = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "bench_window";
        static char* argv[] = {name, nullptr};
        auto* app = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return app;
    }();
    return *made;
}

// Picks and decodes, timed alternately so that both see the same state of the machine.
// Counters: the medians of each in elapsed time (ms) and their ratio, the target, and the same
// ratio in the thread's processor time (cpu_ratio). To show where a pick's time goes, the
// steps a pick takes are also timed one by one, outside the pick (medians, ms): the engine's
// count that keeps the photograph and finds the stability ranges (count_ms), the photograph
// turned into the QImage shown, at most the size of its box (to_qimage_ms; in a pick it is made
// on a second thread while the next three steps run), test.bmp written over the previous one
// (bmp_write_ms) and read back (bmp_read_ms), the result image made the size of its box
// (result_ms), a count's record appended to a journal and flushed to the disk (journal_ms),
// both pictures made pixmaps (pixmap_ms), and painting the window after a pick (paint_ms, not
// part of the pick). With a journal, the pick writes and flushes a record too: on a disk whose
// flush takes milliseconds, that alone can be as much as decoding a small photograph.
void BM_PickToDecode(benchmark::State& state) {
    namespace fs = std::filesystem;
    application();
    const bench::ScratchFolder folder("lathmark-bench-window");
    const fs::path first = folder.path() / "a.jpg";
    const auto photo = bench::writeBenchPhotograph(first, static_cast<int>(state.range(0)),
                                                   static_cast<int>(state.range(1)));
    fs::copy_file(first, folder.path() / "b.jpg");
    const fs::path settings = folder.path() / "Lathmark.ini";
    std::ofstream(settings) << "BDLINE=" << bench::kBdLine << "\nTHRESHOLD=" << bench::kThreshold
                            << "\n";

    // The window lists, and writes test.bmp into, the working folder.
    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(folder.path().string()));
    {
        Lathmark window(settings);
        window.show();
        QApplication::processEvents();
        auto* list = window.findChild<QListWidget*>("File1");
        auto* boards = window.findChild<QLabel*>("vCurrentCount");
        auto* time = window.findChild<QLabel*>("pTime");
        auto* newBook = window.findChild<QPushButton*>("cmdReset");
        auto* picture = window.findChild<QLabel*>("Image2");
        if (list == nullptr || boards == nullptr || time == nullptr || newBook == nullptr ||
            picture == nullptr || list->count() != 2) {
            state.SkipWithError("the window's list, counters or buttons were not found");
            QDir::setCurrent(previousFolder);
            return;
        }
        const QString expected = QString::number(photo.boards);
        int row = 0;
        auto pick = [&] {
            time->clear();
            boards->clear();
            list->setCurrentRow(row);
            row = 1 - row;
            return boards->text() == expected && !time->text().isEmpty();
        };
        // One of each first, so that neither pays for a cold cache or a fresh heap.
        FreeImage_Unload(FreeImage_Load(FIF_JPEG, first.c_str(), 0));
        const char* const wrongCount = "a pick did not show the photograph's boards";
        if (!pick()) state.SkipWithError(wrongCount);
        window.repaint();
        // What earlier benchmarks wrote goes to disk now, not while the picks write test.bmp.
        ::sync();

        bench::Samples decodes, picks, counts, toQImages, bmpWrites, bmpReads, results, journals,
            pixmaps, paints;
        JournalWriter journal(folder.path() / "steps-journal.csv");
        for (auto _ : state) {
            decodes.time([&first] {
                FreeImage_Unload(FreeImage_Load(FIF_JPEG, first.c_str(), 0));
                return true;
            });
            if (!picks.time(pick)) {
                state.SkipWithError(wrongCount);
                break;
            }
            paints.time([&window] {
                window.repaint();
                return true;
            });

            CountResult result = counts.time([&first] {
                return countBoards(first,
                                   {.threshold = bench::kThreshold, .bdLine = bench::kBdLine},
                                   {.keepPhotograph = true, .stability = true});
            });
            if (!result.ok()) {
                state.SkipWithError("the engine alone could not count the photograph");
                break;
            }
            QImage photograph = toQImages.time([&] {
                return toShownImage(result.photograph.get(), picture->contentsRect().size());
            });
            const bool written =
                bmpWrites.time([&result] { return !writeBmp(result.marked.get(), "test.bmp"); });
            QImage marked;
            const bool read = bmpReads.time([&marked] { return marked.load("test.bmp", "BMP"); });
            if (!written || !read) {
                state.SkipWithError("test.bmp could not be written or read back");
                break;
            }
            marked = results.time([&] {
                return toShownImage(marked,
                                    window.findChild<QLabel*>("Image1")->contentsRect().size());
            });
            const bool journalled = journals.time([&] {
                JournalRecord record;
                record.file = "a.jpg";
                record.boards = result.boards();
                return !journal.append(record);
            });
            if (!journalled) {
                state.SkipWithError("the journal could not be written");
                break;
            }
            pixmaps.time([&] {
                return !QPixmap::fromImage(std::move(photograph)).isNull() &&
                       !QPixmap::fromImage(std::move(marked)).isNull();
            });
            // Keep the book far from its limit of photographs.
            newBook->click();
        }
        state.counters["decode_ms"] = decodes.medianMs();
        state.counters["pick_ms"] = picks.medianMs();
        state.counters["ratio"] = bench::ratio(picks.medianMs(), decodes.medianMs());
        state.counters["target"] =
            state.range(0) >= kLargePickWidth ? kLargePickToDecodeTarget : kPickToDecodeTarget;
        state.counters["cpu_ratio"] = bench::ratio(picks.medianCpuMs(), decodes.medianCpuMs());
        state.counters["count_ms"] = counts.medianMs();
        state.counters["to_qimage_ms"] = toQImages.medianMs();
        state.counters["bmp_write_ms"] = bmpWrites.medianMs();
        state.counters["bmp_read_ms"] = bmpReads.medianMs();
        state.counters["result_ms"] = results.medianMs();
        state.counters["journal_ms"] = journals.medianMs();
        state.counters["pixmap_ms"] = pixmaps.medianMs();
        state.counters["paint_ms"] = paints.medianMs();
        window.close();
    }
    QDir::setCurrent(previousFolder);
}
BENCHMARK(BM_PickToDecode)
    ->Args({bench::kSmallWidth, bench::kSmallHeight})
    ->Args({kLargePickWidth, 2048})
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// Settings learnt in the window (Ctrl+L) from a journal of a station set, against the same
// calibration run as the batch counter runs it. LATHMARK_LEARN_SET names a folder of station
// photographs with their truth.tsv (bench/bench_learn.sh makes one with lathmark-make-samples);
// the journal holds each photograph's true count, and the settings have a REGION, so that the
// region is searched as --find-region searches it. While the window learns, a timer ticks every
// 10 ms and repaints the whole window at every tenth tick, about as often as its progress line
// changes: the longest time between two ticks, a repaint included, is max_gap_ms (target: 100).
// Counters: learn_s (Ctrl+L to the choice put to the operator), engine_s (the journal read and
// the calibration, as lathmark-count --calibrate JOURNAL --trust-counts --find-region runs them,
// with as many jobs), their ratio (target: at most 1; the repaints every 10 ms are the window's
// share of the cores meanwhile).
void BM_LearnInWindow(benchmark::State& state) {
    namespace fs = std::filesystem;
    const char* set = std::getenv("LATHMARK_LEARN_SET");
    if (set == nullptr) {
        state.SkipWithError("LATHMARK_LEARN_SET names no folder (see bench/bench_learn.sh)");
        return;
    }
    application();
    const TruthRead truth = readTruth(fs::path(set) / "truth.tsv");
    if (truth.error) {
        state.SkipWithError(truth.error->c_str());
        return;
    }
    const bench::ScratchFolder folder("lathmark-bench-learn");
    {
        JournalWriter journal(folder.path() / kJournalFile);
        StationBook book;
        for (const TruthRow& row : truth.rows) {
            const fs::path copy = folder.path() / fs::path(row.file).filename();
            fs::copy_file(row.file, copy);
            journal.append(book.counted(
                {copy.filename().string(), row.boards, readJpegFile(copy).value.digest}, {}));
        }
    }
    // A quarter of the photograph's width, from where the search starts.
    const JpegWithoutMetadata& first = readJpegFile(truth.rows.front().file).value.jpeg;
    const fs::path settingsFile = folder.path() / "Lathmark.ini";
    std::ofstream(settingsFile) << "BDLINE=40\nTHRESHOLD=128\nREGION=" << first.width / 4 << "x"
                                << first.height << "+0+0\n";
    const Settings settings = readSettings(settingsFile).settings;
    const int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    const QString previousFolder = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(folder.path().string()));
    for (auto _ : state) {
        Lathmark window(settingsFile);
        window.show();
        QApplication::processEvents();
        auto* learn = window.findChild<QShortcut*>("learnKey");
        if (learn == nullptr) {
            state.SkipWithError("the window has no learnKey");
            break;
        }
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        Clock::time_point lastPaint = start, asked{};
        double maxGapMs = 0;
        int ticks = 0;
        QTimer painter;
        painter.setInterval(10);
        QObject::connect(&painter, &QTimer::timeout, [&] {
            if (++ticks % 10 == 0) window.repaint();
            const Clock::time_point now = Clock::now();
            maxGapMs = std::max(maxGapMs,
                                std::chrono::duration<double, std::milli>(now - lastPaint).count());
            lastPaint = now;
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = now;
                box->button(QMessageBox::No) ? box->button(QMessageBox::No)->click()
                                             : box->accept();
            }
        });
        painter.start();
        emit learn->activated();
        auto* message = window.findChild<QLabel*>("Label3");
        while (asked == Clock::time_point{} && !message->text().startsWith("Nothing learnt"))
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        painter.stop();
        if (asked == Clock::time_point{}) {
            state.SkipWithError(message->text().toStdString().c_str());
            break;
        }
        const double learnS = std::chrono::duration<double>(asked - start).count();

        // What lathmark-count --calibrate JOURNAL --trust-counts --find-region does.
        CalibrationOptions options{.jobs = jobs, .findRegion = true};
        const Clock::time_point engineStart = Clock::now();
        const TruthRead fromJournal = readJournalTruth(folder.path() / kJournalFile, true);
        const std::optional<Calibration> calibration =
            calibrate(fromJournal.rows, settings, options, [](const PhotographSearch&) {});
        const double engineS = std::chrono::duration<double>(Clock::now() - engineStart).count();
        if (!calibration) state.SkipWithError("nothing could be calibrated");
        state.counters["learn_s"] = learnS;
        state.counters["engine_s"] = engineS;
        state.counters["ratio"] = bench::ratio(learnS, engineS);
        state.counters["max_gap_ms"] = maxGapMs;
        window.close();
    }
    QDir::setCurrent(previousFolder);
}
BENCHMARK(BM_LearnInWindow)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
