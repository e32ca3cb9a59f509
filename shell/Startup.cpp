#include "Startup.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "BatchMode.h"
#include "NumericError.h"
#include "QtSettingsStore.h"
#include "TAbout.h"
#include "TCTable.h"
#include "TInputGrid.h"
#include "TOptions.h"
#include "TProGrid.h"
#include "TResults.h"

namespace kelvorin {

namespace {

bool WantsBatch(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--batch") == 0 || std::strcmp(argv[i], "--help") == 0 ||
            std::strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

int RunBatchMode(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return RunBatch(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    } catch (const NumericErrorException& error) {
        std::cout.flush();
        std::cerr << "Error: " << error.what() << '\n';
        return 1;
    }
}

}  // namespace

int RunProgram(int argc, char** argv) {
    if (WantsBatch(argc, argv)) return RunBatchMode(argc, argv);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Kelvorin");
    QApplication::setApplicationDisplayName("Kelvorin");
    QtSettingsStore settings;

    // The six windows, in their creation order; all live until the end.
    TCTable mainWindow(settings);
    TOptions options(settings, &mainWindow);
    TInputGrid inputGrid(&options, &mainWindow);
    TResults results(&mainWindow);
    TAbout about(&mainWindow);
    TProGrid proGrid(&mainWindow);
    mainWindow.Attach(&options, &inputGrid, &results, &about, &proGrid);

    mainWindow.show();
    return QApplication::exec();
}

}  // namespace kelvorin
