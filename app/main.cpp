// Lathmark: counts the boards in a stack of fibreboard from photographs of its edge, picked
// from the JPEG files of the working directory.

#include <QApplication>

#include "app/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lathmark");
    QGuiApplication::setDesktopFileName("lathmark");

    lathmark::Lathmark window;
    window.show();
    window.reportSettingsProblems();
    return QApplication::exec();
}
