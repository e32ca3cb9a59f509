// The stored-results editor: the text collected by Results > Store (and by
// Bulk processing without a result file), which the user can edit, erase,
// save to a text file and print. Its status bar shows the number of
// characters of the text, a line break counting two. The editor knows
// whether its text has changed since it was last saved (or since the start),
// so that closing the program can offer to save it.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "QtPorts.h"
#include "TableCommands.h"

class QAction;
class QFont;
class QMenuBar;
class QPlainTextEdit;
class QStatusBar;

namespace kelvorin {

class TResults : public QDialog, public ResultsText {
    Q_OBJECT
public:
    explicit TResults(QWidget* parent = nullptr);
    ~TResults() override;

    // Adds LINE as the new last line of the text.
    void AppendLine(const std::string& line) override;

    QPlainTextEdit* RichEdit1() const { return richEdit1_; }
    QStatusBar* StatusBar1() const { return statusBar1_; }
    QMenuBar* MainMenu1() const { return mainMenu1_; }
    QAction* Eraseall1() const { return eraseall1_; }
    QAction* Savetofile1() const { return savetofile1_; }
    QAction* Print1() const { return print1_; }
    QAction* Return1() const { return return1_; }
    QtFileDialog& SaveDialog1() { return saveDialog1_; }

    // True when the text is not empty and has changed since it was last
    // saved to a file (since the start, when it was empty, if it never
    // was): stored, appended or typed. An edit undone back to the saved
    // text counts as no change; Erase all leaves nothing to save.
    bool HasUnsavedText() const;

    // Save to file: asks for the file name and writes the whole text with
    // CR LF line ends, replacing the file only once the text is complete.
    // True when the text was written, which makes it the saved text; false
    // when the dialog was cancelled, or the file was refused or could not
    // be written (said in a message), and the text then counts as unsaved
    // as before.
    bool SaveToFile();
    // Save to file in two steps, for a save whose file must be known before
    // the text is complete: the name asked for (nothing when the dialog was
    // cancelled or the file was refused, said in a message), then the
    // whole text written to it as Save to file writes it.
    std::optional<std::string> ChooseSaveFile();
    bool WriteToFile(const std::string& fileName);

    // Handlers of the menu and of the window's events.
    void Eraseall1Click();
    void Savetofile1Click();
    void Print1Click();
    void Return1Click();
    void FormActivate();
    void RichEdit1KeyDown();

    // The editor's whole text, its lines joined by line feeds, every other
    // character as typed or stored: what Save to file writes (with CR LF),
    // printing prints and the status bar counts.
    QString Text() const;

    // The status bar's text for TEXT: its number of characters, each line
    // break counting two (carriage return and line feed), in decimal.
    static QString CountText(const QString& text);

    // Prints a text in a font; false with the reason on failure.
    // PrintPlainText unless replaced.
    using TextPrinter = std::function<bool(const QString& text, const QFont& font, QString* error)>;
    void SetPrinter(TextPrinter printer);

    // The name of the data file now open for reading, empty when there is
    // none. Save to file refuses to replace that file. None unless set.
    using DataFileSource = std::function<std::string()>;
    void SetDataFileSource(DataFileSource source) { dataFile_ = std::move(source); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateStatusBar();
    // Notes text added to the editor at POSITION (ADDED characters) that
    // the count cannot take from the document's sizes.
    void NoteAdded(int position, int added);

    QMenuBar* mainMenu1_ = nullptr;
    QAction* eraseall1_ = nullptr;
    QAction* savetofile1_ = nullptr;
    QAction* print1_ = nullptr;
    QAction* return1_ = nullptr;
    QPlainTextEdit* richEdit1_ = nullptr;
    QStatusBar* statusBar1_ = nullptr;
    QtFileDialog saveDialog1_;
    TextPrinter printer_;
    DataFileSource dataFile_;
    // Whether the text may hold a character that does not count as one
    // unit of the document (a surrogate pair, a line separator): until a
    // count finds none, each count goes through the whole text.
    bool mayHoldSpecial_ = false;
};

}  // namespace kelvorin
