// Speed of a pick in the window: from the change of the list's selection to the pictures and
// captions being set, against a bare FreeImage_Load of the same photograph.
//
// The window is the real one, on Qt's offscreen platform unless a display is chosen, working
// in a temporary folder that holds two copies of the 768 x 576 photograph, so that every pick
// changes the selection. A pick is handled synchronously: when setCurrentRow() returns, the
// captions are set. Painting them is timed on its own (paint_ms) and does not enter the ratio.

#include <FreeImage.h>
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "bench/fixtures.h"
#include "bench/timing.h"
#include "engine/counting.h"
#include "engine/report.h"

namespace {

using namespace lathmark;

// The most a pick may take, as a multiple of decoding the photograph.
constexpr double kPickToDecodeTarget = 2.0;

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
// Counters: the medians of each in elapsed time (ms), their ratio and the target; the same
// ratio in the thread's processor time (cpu_ratio); and, to show what the window adds to the
// engine, the median of the engine's part of a pick alone (count_ms: the count that keeps the
// photograph, and test.bmp written) and of painting the window after a pick (paint_ms).
void BM_PickToDecode(benchmark::State& state) {
    namespace fs = std::filesystem;
    application();
    const bench::ScratchFolder folder("lathmark-bench-window");
    const fs::path first = folder.path() / "a.jpg";
    const auto photo = bench::writeBenchPhotograph(first, bench::kSmallWidth, bench::kSmallHeight);
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
        if (list == nullptr || boards == nullptr || time == nullptr || newBook == nullptr ||
            list->count() != 2) {
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

        bench::Samples decodes, picks, counts, paints;
        for (auto _ : state) {
            decodes.time([&first] {
                FreeImage_Unload(FreeImage_Load(FIF_JPEG, first.c_str(), 0));
                return true;
            });
            if (!picks.time(pick)) {
                state.SkipWithError(wrongCount);
                break;
            }
            const bool engineCounted = counts.time([&first] {
                const CountResult result =
                    countBoards(first, bench::kBdLine, bench::kThreshold, {.keepPhotograph = true});
                return result.ok() && !writeBmp(result.marked.get(), "test.bmp");
            });
            if (!engineCounted) {
                state.SkipWithError("the engine alone could not count the photograph");
                break;
            }
            paints.time([&window] {
                window.repaint();
                return true;
            });
            // Keep the book far from its limit of photographs.
            newBook->click();
        }
        state.counters["decode_ms"] = decodes.medianMs();
        state.counters["pick_ms"] = picks.medianMs();
        state.counters["ratio"] = bench::ratio(picks.medianMs(), decodes.medianMs());
        state.counters["target"] = kPickToDecodeTarget;
        state.counters["cpu_ratio"] = bench::ratio(picks.medianCpuMs(), decodes.medianCpuMs());
        state.counters["count_ms"] = counts.medianMs();
        state.counters["paint_ms"] = paints.medianMs();
        window.close();
    }
    QDir::setCurrent(previousFolder);
}
BENCHMARK(BM_PickToDecode)->Iterations(60)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
