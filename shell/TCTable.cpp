#include "TCTable.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include "DialogService.h"
#include "Fonts.h"
#include "HelpViewer.h"
#include "NumericError.h"
#include "QtPorts.h"
#include "TAbout.h"
#include "TInputGrid.h"
#include "TOptions.h"
#include "TProGrid.h"
#include "TResults.h"

namespace kelvorin {

namespace {

// Design placement of the main window, used where nothing is stored.
constexpr int kDesignLeft = 280;
constexpr int kDesignTop = 201;
constexpr int kDesignWidth = 559;
constexpr int kDesignHeight = 361;

const char* const kPlacementNames[4] = {"Top", "Left", "Height", "Width"};

// The main window's help file and the context of Help > Contents.
const char* const kMainHelpFile = "zelkat.chm";
constexpr int kContentsHelpContext = 12;

// The progress bar's steps from no sample point to all of them.
constexpr int kProgressSteps = 1000;

// Asked at the close while the results editor holds unsaved text.
const char* const kSaveResultsQuestion = "Save the stored results before closing?";

// VALUE + BY, brought into the range of int: a window placed from another
// one's values never overflows, however large the stored values are.
int Shifted(int value, int by) {
    const long long sum = static_cast<long long>(value) + by;
    return static_cast<int>(std::clamp<long long>(sum, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

// The area that a window at LEFT, TOP of WIDTH x HEIGHT has on AREA,
// computed in 64 bits, so any stored int values are safe.
long long AreaOn(const QRect& area, long long left, long long top, long long width, long long height) {
    const long long across = std::min<long long>(left + width, static_cast<long long>(area.x()) + area.width()) -
                             std::max<long long>(left, area.x());
    const long long down = std::min<long long>(top + height, static_cast<long long>(area.y()) + area.height()) -
                           std::max<long long>(top, area.y());
    return across > 0 && down > 0 ? across * down : 0;
}

// The screen on which a window at LEFT, TOP of WIDTH x HEIGHT has the most
// area; nullptr when it has none on any screen.
QScreen* ScreenMostlyUnder(long long left, long long top, long long width, long long height) {
    QScreen* best = nullptr;
    long long bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const long long area = AreaOn(screen->geometry(), left, top, width, height);
        if (area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

// Whether at least half of a window at LEFT, TOP of WIDTH x HEIGHT lies on
// one screen.
bool MostlyOnAScreen(long long left, long long top, long long width, long long height) {
    const QScreen* screen = ScreenMostlyUnder(left, top, width, height);
    if (screen == nullptr) return false;
    const long long area = AreaOn(screen->geometry(), left, top, width, height);
    return area >= width * height - area;
}

}  // namespace

TCTable::TCTable(SettingsStore& settings) : settings_(settings) {
    setObjectName("CTable");
    setWindowTitle("Kelvorin");

    memo1_ = new QPlainTextEdit(this);
    memo1_->setObjectName("Memo1");
    memo1_->setReadOnly(true);
    memo1_->setFont(ReportFont());
    memo1_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setCentralWidget(memo1_);

    statusBar1_ = new QStatusBar(this);
    statusBar1_->setObjectName("StatusBar1");
    statusBar1_->setSizeGripEnabled(false);
    statusBar1_->setFixedHeight(19);
    statusBar1_->installEventFilter(this);
    progress_ = new QProgressBar(statusBar1_);
    progress_->setObjectName("ProgressBar");
    progress_->setRange(0, kProgressSteps);
    progress_->setMaximumWidth(160);
    progress_->setTextVisible(false);
    progress_->hide();
    statusBar1_->addPermanentWidget(progress_);
    setStatusBar(statusBar1_);

    BuildMenu();
    InstallMenuHelp();
    FormCreate();
}

TCTable::~TCTable() { FormDestroy(); }

void TCTable::FormDestroy() { CloseHelpWindows(); }

void TCTable::InstallMenuHelp() {
    menuBar()->installEventFilter(this);
    for (QMenu* menu : menuBar()->findChildren<QMenu*>()) menu->installEventFilter(this);
}

int TCTable::MenuHelpContext(const QAction* item) {
    // The chain of enclosing items is short; the bound only guards a cycle.
    for (int depth = 0; item != nullptr && depth < 32; ++depth) {
        const int context = item->property("helpContext").toInt();
        if (context != 0) return context;
        const QAction* enclosing = nullptr;
        for (QObject* owner : item->associatedObjects()) {
            const auto* menu = qobject_cast<const QMenu*>(owner);
            if (menu != nullptr && menu->menuAction() != item) {
                enclosing = menu->menuAction();
                break;
            }
        }
        item = enclosing;
    }
    return 0;
}

bool TCTable::MenuHelpKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
    QAction* item = nullptr;
    if (auto* menu = qobject_cast<QMenu*>(watched)) {
        // A menu just opened has nothing highlighted in it yet: the item
        // that opened it is the highlighted one.
        item = menu->activeAction();
        if (item == nullptr) item = menu->menuAction();
    } else if (auto* bar = qobject_cast<QMenuBar*>(watched)) {
        item = bar->activeAction();
    }
    if (item == nullptr) return false;
    const int context = MenuHelpContext(item);
    // The menu closes, as it does for any command.
    for (int k = 0; k < 8 && QApplication::activePopupWidget() != nullptr; ++k)
        QApplication::activePopupWidget()->close();
    if (context != 0) ShowHelpContext(kMainHelpFile, context);
    return true;
}

QAction* TCTable::AddItem(QMenu* menu, const char* name, const char* caption, const char* hint, int helpContext,
                          bool enabled, void (TCTable::*handler)()) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(name);
    action->setStatusTip(QString::fromUtf8(hint));
    action->setProperty("helpContext", helpContext);
    action->setEnabled(enabled);
    if (handler != nullptr) connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
}

void TCTable::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    auto submenu = [](QMenu* menu, const char* name, const char* hint, int helpContext) {
        menu->setObjectName(QString(name) + "Menu");
        menu->menuAction()->setObjectName(name);
        menu->menuAction()->setStatusTip(QString::fromUtf8(hint));
        menu->menuAction()->setProperty("helpContext", helpContext);
    };

    newtable1_ = bar->addMenu("&Table");
    submenu(newtable1_, "Newtable1", "", 1100);
    AddItem(newtable1_, "New1", "New", "Type table data", 52, true, &TCTable::New1Click);
    QMenu* read1 = newtable1_->addMenu("Read");
    submenu(read1, "Read1", "Read table data from a file", 62);
    AddItem(read1, "fromnewfile1", "from new file", "Select the file name", 72, true, &TCTable::fromnewfile1Click);
    AddItem(read1, "fromsamefile1", "from same file", "*1", 82, false, &TCTable::fromsamefile1Click);
    save1_ = newtable1_->addMenu("Save");
    submenu(save1_, "Save1", "", 92);
    save1_->menuAction()->setEnabled(false);
    AddItem(save1_, "tonewfile1", "to new file", "You must specify a file name", 102, true, &TCTable::tonewfile1Click);
    AddItem(save1_, "tosamefile1", "to same file", "*2", 112, false, &TCTable::tosamefile1Click);
    AddItem(newtable1_, "Bulkprocessing1", "Bulk processing", "Read data for several tables", 1180, true,
            &TCTable::Bulkprocessing1Click);
    newtable1_->addSeparator()->setObjectName("N2");
    AddItem(newtable1_, "Exit2", "E&xit", "Finish the program", 132, true, &TCTable::Exit2Click);

    options1_ = bar->addAction("&Options");
    options1_->setObjectName("Options1");
    options1_->setStatusTip("Select test");
    options1_->setProperty("helpContext", 182);
    connect(options1_, &QAction::triggered, this, [this] { Options1Click(); });

    results1_ = bar->addMenu("&Results");
    submenu(results1_, "Results1", "", 0);
    results1_->menuAction()->setEnabled(false);
    AddItem(results1_, "Store1", "Store", "Move the output to the editor", 142, true, &TCTable::Store1Click);
    AddItem(results1_, "Edit1", "Edit", "Edit/save/print the stored results", 152, true, &TCTable::Edit1Click);

    QMenu* help1 = bar->addMenu(QString(23, QLatin1Char(' ')) + "&Help");
    submenu(help1, "Help1", "Get help", 0);
    AddItem(help1, "Contents1", "Contents", "Get help to use the program", 0, true, &TCTable::Contents1Click);
    help1->addSeparator()->setObjectName("N1");
    AddItem(help1, "About1", "About", "Program version", 0, true, &TCTable::About1Click);
}

QAction* TCTable::Item(const QString& objectName) const {
    for (QAction* action : findChildren<QAction*>())
        if (action->objectName() == objectName) return action;
    return nullptr;
}

void TCTable::FormCreate() {
    // A stored value applies when it is above 0, the design value otherwise.
    // The size is then brought within the available area of the screen the
    // window is mostly on (the primary screen when it is on none) and up to
    // at least the window's minimum size hint; a window that even so would
    // not lie mostly on one screen gets the design placement. So a placement
    // stored for a screen that is gone, or nonsense, neither hides the window
    // nor is stored again at the close. (The frame's margins are not known
    // before the window is shown; the client size stands for the frame's.)
    int stored[4];
    for (int k = 0; k < 4; ++k) stored[k] = settings_.ReadInteger("MainSetup", kPlacementNames[k], -1);
    int top = stored[0] > 0 ? stored[0] : kDesignTop;
    int left = stored[1] > 0 ? stored[1] : kDesignLeft;
    int height = stored[2] > 0 ? stored[2] : kDesignHeight;
    int width = stored[3] > 0 ? stored[3] : kDesignWidth;
    QScreen* screen = ScreenMostlyUnder(left, top, width, height);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QSize minimum = minimumSizeHint();
    if (screen != nullptr) {
        const QRect available = screen->availableGeometry();
        width = std::min(width, available.width());
        height = std::min(height, available.height());
    }
    width = std::max(width, minimum.width());
    height = std::max(height, minimum.height());
    if (!MostlyOnAScreen(left, top, width, height)) {
        top = kDesignTop;
        left = kDesignLeft;
        height = kDesignHeight;
        width = kDesignWidth;
    }
    resize(width, height);
    move(left, top);

    // Grid values below 1 are derived from the main window as it now stands,
    // and so are all four when the stored ones would put the grid mostly off
    // every screen.
    Placement grid;
    grid.Top = settings_.ReadInteger("GridSetup", "Top", -1);
    grid.Left = settings_.ReadInteger("GridSetup", "Left", -1);
    grid.Height = settings_.ReadInteger("GridSetup", "Height", -1);
    grid.Width = settings_.ReadInteger("GridSetup", "Width", -1);
    const int clientHeight = height - menuBar()->sizeHint().height();
    const Placement derived = {Shifted(top, 55), Shifted(left, 8), clientHeight - 30, width - 20};
    if (grid.Top < 1) grid.Top = derived.Top;
    if (grid.Left < 1) grid.Left = derived.Left;
    if (grid.Height < 1) grid.Height = derived.Height;
    if (grid.Width < 1) grid.Width = derived.Width;
    if (!MostlyOnAScreen(grid.Left, grid.Top, std::max(grid.Width, 1), std::max(grid.Height, 1))) grid = derived;
    gridPlacementAtStart_ = grid;
}

void TCTable::Attach(TOptions* options, TInputGrid* inputGrid, TResults* results, TAbout* about,
                     TProGrid* proGrid) {
    options_ = options;
    inputGrid_ = inputGrid;
    results_ = results;
    about_ = about;
    proGrid_ = proGrid;

    report_ = std::make_unique<PlainTextReport>(memo1_);
    pump_ = std::make_unique<QtEventPump>();
    messages_ = std::make_unique<QtMessageBoxes>(this);
    clock_ = std::make_unique<QtClock>();
    saveDialog1_ = std::make_unique<QtFileDialog>(this, QtFileDialog::Kind::Save, "Text (*.txt)|*.txt", "txt");
    openDialog1_ = std::make_unique<QtFileDialog>(
        this, QtFileDialog::Kind::Open, "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*", "dat");
    saveDialog2_ = std::make_unique<QtFileDialog>(this, QtFileDialog::Kind::Save, "Data file (*.dat)|*.dat", "dat");

    EnginePorts ports;
    ports.EntryGrid = &inputGrid_->Grid();
    ports.ProportionsGrid = &proGrid_->Grid();
    ports.ProportionsWindow = proGrid_;
    ports.Report = report_.get();
    ports.Status = this;
    ports.Pump = pump_.get();
    ports.Messages = messages_.get();
    ports.LocalClock = clock_.get();
    ports.Menus = this;
    ports.SaveDialog1 = saveDialog1_.get();
    ports.Options = options_;
    engine_ = std::make_unique<AnalysisEngine>(ports);

    CommandPorts commandPorts;
    commandPorts.Engine = engine_.get();
    commandPorts.EntryGrid = &inputGrid_->Grid();
    commandPorts.ProportionsGrid = &proGrid_->Grid();
    commandPorts.InputGrid = inputGrid_;
    commandPorts.OpenDialog1 = openDialog1_.get();
    commandPorts.SaveDialog1 = saveDialog1_.get();
    commandPorts.SaveDialog2 = saveDialog2_.get();
    commandPorts.Report = report_.get();
    commandPorts.Status = this;
    commandPorts.Messages = messages_.get();
    commandPorts.Menus = this;
    commandPorts.Results = results_;
    commands_ = std::make_unique<TableCommands>(commandPorts);
    commands_->GridPlacement() = gridPlacementAtStart_;
    results_->SetDataFileSource([this] {
        const AnalysisState& state = engine_->State();
        return state.DataFile.IsOpen() ? state.DataFileName : std::string();
    });
}

// At a progress display the bar shows the share of the sample points
// visited or accounted for; until there is one to show (the total not yet
// known, or no point accounted for while a network's graph is formed, which
// can take minutes) it shows that the run is busy. Other texts hide it.
void TCTable::SetText(const std::string& text) {
    statusBar1_->showMessage(QString::fromStdString(text));
    const AnalysisState* state = engine_ ? &engine_->State() : nullptr;
    if (state == nullptr || !state->Running || state->Abandoned || !text.ends_with(kBreakHint)) {
        progress_->hide();
        return;
    }
    if (state->ExpectedSamplePoints > 0.0 && state->SamplePointCount > 0) {
        const double share = static_cast<double>(state->SamplePointCount) / state->ExpectedSamplePoints;
        progress_->setRange(0, kProgressSteps);
        progress_->setValue(static_cast<int>(std::min(1.0, share) * kProgressSteps));
    } else {
        progress_->setRange(0, 0);
    }
    progress_->show();
}

void TCTable::SetEnabled(MenuItem item, bool enabled) {
    switch (item) {
        case MenuItem::Save1: save1_->menuAction()->setEnabled(enabled); break;
        case MenuItem::Newtable1: newtable1_->menuAction()->setEnabled(enabled); break;
        case MenuItem::Options1: options1_->setEnabled(enabled); break;
        case MenuItem::Results1: results1_->menuAction()->setEnabled(enabled); break;
        case MenuItem::fromsamefile1: Item("fromsamefile1")->setEnabled(enabled); break;
        case MenuItem::tosamefile1: Item("tosamefile1")->setEnabled(enabled); break;
    }
    if (!enabled || item == MenuItem::Results1) progress_->hide();
}

void TCTable::RunCommand(const std::function<void()>& command) {
    ++commandDepth_;
    try {
        command();
    } catch (const NumericErrorException& error) {
        // The numeric routines cannot go on: the message, then the end of
        // the program with status 1 (open files are flushed and closed).
        Dialogs().Message(nullptr, QString::fromStdString(error.what()), "Error", DialogService::Icon::Error);
        std::exit(1);
    } catch (const std::exception& error) {
        Dialogs().Message(this, QString::fromStdString(error.what()), "Error", DialogService::Icon::Error);
    }
    --commandDepth_;
    if (commandDepth_ == 0 && closePending_) {
        closePending_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TCTable::New1Click() { RunCommand([this] { commands_->New(); }); }
void TCTable::fromnewfile1Click() { RunCommand([this] { commands_->ReadFromNewFile(); }); }
void TCTable::fromsamefile1Click() { RunCommand([this] { commands_->ReadFromSameFile(); }); }
void TCTable::tonewfile1Click() { RunCommand([this] { commands_->SaveToNewFile(); }); }
void TCTable::tosamefile1Click() { RunCommand([this] { commands_->SaveToSameFile(); }); }
void TCTable::Bulkprocessing1Click() { RunCommand([this] { commands_->BulkProcessing(); }); }
void TCTable::Exit2Click() { close(); }

void TCTable::Options1Click() {
    options_->PlaceAt(Shifted(x(), 50), y());
    options_->exec();
}

void TCTable::Store1Click() {
    for (const std::string& line : report_->Lines()) results_->AppendLine(line);
    report_->Clear();
}

void TCTable::Edit1Click() {
    results_->move(x(), y());
    results_->exec();
}

void TCTable::Contents1Click() { ShowHelpContext(kMainHelpFile, kContentsHelpContext); }

void TCTable::About1Click() {
    // Centred on the main window as it stands now, frame on frame. The
    // About box's frame is that of its platform window, known once the
    // window exists.
    about_->adjustSize();
    about_->winId();
    const QMargins frame = about_->windowHandle()->frameMargins();
    const QSize size = about_->size().grownBy(frame);
    about_->move(frameGeometry().center() - QPoint((size.width() - 1) / 2, (size.height() - 1) / 2));
    about_->exec();
}

void TCTable::StatusBar1Click() {
    if (engine_) RunCommand([this] { engine_->StatusBar1Click(); });
}

void TCTable::ShowMenuHint(const QString& hint) {
    QString text = hint;
    const AnalysisState* state = engine_ ? &engine_->State() : nullptr;
    if (text == "*1") {
        text = state != nullptr && !state->DataFileName.empty()
                   ? "Read table data from " + QString::fromStdString(state->DataFileName)
                   : "You have not yet read data";
    } else if (text == "*2") {
        text = state != nullptr && !state->SaveFileName.empty()
                   ? "Save table data to " + QString::fromStdString(state->SaveFileName)
                   : "You have not yet saved data";
    }
    const int bar = text.indexOf('|');
    statusBar1_->showMessage(bar >= 0 ? text.mid(bar + 1) : text);
}

void TCTable::DiscardTable() {
    if (engine_) engine_->DiscardTable();
}

bool TCTable::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowMenuHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool TCTable::eventFilter(QObject* watched, QEvent* event) {
    if (watched != statusBar1_ && MenuHelpKey(watched, event)) return true;
    if (watched == statusBar1_ && event->type() == QEvent::MouseButtonPress) {
        StatusBar1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TCTable::closeEvent(QCloseEvent* event) {
    // A close that comes while a command waits in one of its windows for
    // the user (the entry grid, a file dialog, a message, the editor or the
    // About box opened during a run) is refused, and nothing of it is kept:
    // kept for later, it would break off a run because of a close that did
    // not happen, or end the program after whatever the user goes on to do
    // in that window, a whole analysis included.
    const bool commandUnderWay = engine_ && (engine_->State().Running || commandDepth_ > 0);
    if (commandUnderWay && QApplication::activeModalWidget() != nullptr) {
        event->ignore();
        return;
    }
    // Unsaved stored results are asked about before anything else happens
    // (every way of closing comes here, the end of the session too): Cancel
    // leaves the window open, a run going on and nothing stored.
    if (storedResults_ == StoredResults::Unasked && results_ != nullptr && results_->HasUnsavedText()) {
        switch (Dialogs().YesNoCancel(this, kSaveResultsQuestion, "Confirm")) {
            case DialogService::Answer::Cancel: event->ignore(); return;
            case DialogService::Answer::No: storedResults_ = StoredResults::Discard; break;
            case DialogService::Answer::Yes: storedResults_ = StoredResults::Save; break;
        }
    }
    // A close during a run breaks the run off as Yes to "Abort calculation ?"
    // would; the window closes once the enumeration has unwound and nothing
    // of the table is in use any more. The answer above holds for that
    // close, so the results are saved with all that the run still adds: to
    // a file chosen now, before anything is broken off, so that a save
    // dialog cancelled (or a file refused) leaves the run, and Bulk
    // processing, going on with the window open.
    if (commandUnderWay) {
        if (storedResults_ == StoredResults::Save && !resultsFileName_) {
            resultsFileName_ = results_->ChooseSaveFile();
            if (!resultsFileName_) {
                storedResults_ = StoredResults::Unasked;
                event->ignore();
                return;
            }
        }
        engine_->BreakOff();
        commands_->StopBulkProcessing();
        closePending_ = true;
        event->ignore();
        return;
    }
    // The editor's own Save to file, with its dialog and its messages. Not
    // saved (cancelled, refused, failed), the window stays open and the
    // next close asks again.
    if (storedResults_ == StoredResults::Save) {
        storedResults_ = StoredResults::Unasked;
        const std::optional<std::string> chosen = std::exchange(resultsFileName_, std::nullopt);
        if (!(chosen ? results_->WriteToFile(*chosen) : results_->SaveToFile())) {
            event->ignore();
            return;
        }
    }
    if (!closed_) {
        FormClose();
        closed_ = true;
    }
    // Closing the main window ends the program, and the help windows go
    // with it.
    FormDestroy();
    event->accept();
}

void TCTable::FormClose() {
    const int values[4] = {y(), x(), height(), width()};
    for (int k = 0; k < 4; ++k) settings_.WriteInteger("MainSetup", kPlacementNames[k], values[k]);
    const Placement grid = commands_ ? commands_->GridPlacement() : gridPlacementAtStart_;
    const int gridValues[4] = {grid.Top, grid.Left, grid.Height, grid.Width};
    for (int k = 0; k < 4; ++k) settings_.WriteInteger("GridSetup", kPlacementNames[k], gridValues[k]);
    if (!engine_) return;
    engine_->DiscardTable();
    AnalysisState& state = engine_->State();
    state.DetailsFile.Close();
    state.DataFile.Close();
}

}  // namespace kelvorin
