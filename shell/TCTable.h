// The main window: menu, report pane, status bar, the stored window
// placement, and the analysis engine with its state for the whole life of
// the program. Menu commands are handled here and passed on to the Table
// commands, the results editor, the options dialog and the help.
#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AnalysisEngine.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "TableCommands.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStatusBar;

namespace kelvorin {

class PlainTextReport;
class QtClock;
class QtEventPump;
class QtFileDialog;
class QtMessageBoxes;
class TAbout;
class TInputGrid;
class TOptions;
class TProGrid;
class TResults;

class TCTable : public QMainWindow, public StatusLine, public MenuStates {
    Q_OBJECT
public:
    // Creates the main window (FormCreate: stored placement, grid placement).
    explicit TCTable(SettingsStore& settings);
    ~TCTable() override;

    // Connects the windows created after the main window; creates the engine
    // (which fills the factorial table) and the Table commands.
    void Attach(TOptions* options, TInputGrid* inputGrid, TResults* results, TAbout* about, TProGrid* proGrid);

    AnalysisEngine& Engine() { return *engine_; }
    TableCommands& Commands() { return *commands_; }
    QPlainTextEdit* Memo1() const { return memo1_; }
    QStatusBar* StatusBar1() const { return statusBar1_; }
    QAction* Item(const QString& objectName) const;

    // StatusLine: the status bar's one text panel, and the progress bar when
    // the number of sample points of a running enumeration is known.
    void SetText(const std::string& text) override;
    // MenuStates.
    void SetEnabled(MenuItem item, bool enabled) override;

    // Handlers of the menu.
    void New1Click();
    void fromnewfile1Click();
    void fromsamefile1Click();
    void tonewfile1Click();
    void tosamefile1Click();
    void Bulkprocessing1Click();
    void Exit2Click();
    void Options1Click();
    void Store1Click();
    void Edit1Click();
    void Contents1Click();
    void About1Click();
    void StatusBar1Click();

    // The hint handler: "*1" and "*2" become the data and save file texts;
    // the status bar shows the part after the first "|".
    void ShowMenuHint(const QString& hint);

    void DiscardTable();

    // Runs when the main window goes at the end of the program (and when it
    // is closed, which ends the program): closes every help window.
    void FormDestroy();

    // The help context of a menu item: its own, or, when that is 0, the one
    // of the nearest enclosing item that has one; 0 when none has.
    static int MenuHelpContext(const QAction* item);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* hint, int helpContext,
                     bool enabled, void (TCTable::*handler)());
    void FormCreate();
    void FormClose();
    // F1 on a highlighted menu item opens the main window's help file at
    // the item's help context.
    void InstallMenuHelp();
    bool MenuHelpKey(QObject* watched, QEvent* event);
    // Runs a command; an error that escapes it is shown and the program goes
    // on, a failure of the numeric routines ends the program. A close asked
    // for during the command happens once it has unwound.
    void RunCommand(const std::function<void()>& command);

    SettingsStore& settings_;
    QPlainTextEdit* memo1_ = nullptr;
    QStatusBar* statusBar1_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QMenu* newtable1_ = nullptr;
    QMenu* save1_ = nullptr;
    QMenu* results1_ = nullptr;
    QAction* options1_ = nullptr;

    TOptions* options_ = nullptr;
    TInputGrid* inputGrid_ = nullptr;
    TResults* results_ = nullptr;
    TAbout* about_ = nullptr;
    TProGrid* proGrid_ = nullptr;

    std::unique_ptr<PlainTextReport> report_;
    std::unique_ptr<QtEventPump> pump_;
    std::unique_ptr<QtMessageBoxes> messages_;
    std::unique_ptr<QtClock> clock_;
    std::unique_ptr<QtFileDialog> saveDialog1_;
    std::unique_ptr<QtFileDialog> openDialog1_;
    std::unique_ptr<QtFileDialog> saveDialog2_;
    std::unique_ptr<AnalysisEngine> engine_;
    std::unique_ptr<TableCommands> commands_;

    // The answer to the question about unsaved stored results, kept from
    // a close asked for during a run to the close once it has unwound.
    enum class StoredResults { Unasked, Save, Discard };

    Placement gridPlacementAtStart_;
    int commandDepth_ = 0;
    bool closePending_ = false;
    bool closed_ = false;
    StoredResults storedResults_ = StoredResults::Unasked;
    // The file the stored results go to, chosen at a close during a run.
    std::optional<std::string> resultsFileName_;
};

}  // namespace kelvorin
