#include "Startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "ApplicationSetup.h"
#include "BatchMode.h"
#include "HelpViewer.h"
#include "NumericError.h"
#include "ProcessorCores.h"
#include "QtSettingsStore.h"
#include "ReusedMemory.h"
#include "SystemMemory.h"
#include "TAbout.h"
#include "TCTable.h"
#include "TInputGrid.h"
#include "TOptions.h"
#include "TProGrid.h"
#include "TResults.h"

// The help pages and the About banner, compiled into this library.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

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
    // The options saved in the desktop program; the store names its
    // organisation and application itself, so no application object is
    // needed to read it.
    const QtSettingsStore settings;
    try {
        return RunBatch(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &settings, NetworkMemoryBudget(),
                        AvailableCores());
    } catch (const NumericErrorException& error) {
        std::cout.flush();
        std::cerr << "Error: " << error.what() << '\n';
        return 1;
    }
}

// Opens the null device on any of the standard descriptors the program was
// started without (closed by its caller), so that no file the program opens
// takes that place: its messages would be written into a result file.
void OpenMissingStandardDescriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor)
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free descriptor: this one, those below are open.
            if (open("/dev/null", O_RDWR) < 0) return;
        }
}

}  // namespace

int RunProgram(int argc, char** argv) {
    OpenMissingStandardDescriptors();
    // The exact tests' work arrays, freed, kept for the next pass and the
    // next analysis.
    KeepFreedMemoryForReuse();
    if (WantsBatch(argc, argv)) return RunBatchMode(argc, argv);

    QApplication application(argc, argv);
    SetUpApplication();

    // The help viewers, registered before any window is created; they go
    // after the windows, so the main window closes their windows first.
    InitHelpResources();
    HtmlHelpViewer htmlHelp;
    WinHelpViewer winHelp;
    RegisterHelpViewer(htmlHelp);
    RegisterHelpViewer(winHelp);

    QtSettingsStore settings;

    // The six windows, in their creation order; all live until the end.
    TCTable mainWindow(settings);
    TOptions options(settings, &mainWindow);
    TInputGrid inputGrid(&options, &mainWindow);
    TResults results(&mainWindow);
    TAbout about(&mainWindow);
    TProGrid proGrid(&mainWindow);
    mainWindow.Attach(&options, &inputGrid, &results, &about, &proGrid);
    // (The analysis engine exists once the windows are attached.)
    mainWindow.Engine().State().NetworkMemory = NetworkMemoryBudget();
    mainWindow.Engine().State().Cores = AvailableCores();

    mainWindow.show();
    return QApplication::exec();
}

}  // namespace kelvorin
