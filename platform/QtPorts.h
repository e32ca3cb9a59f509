// The engine's ports over Qt widgets, and the standard dialog service:
// file dialogs, message boxes, the status bar's text panel, the pumping of
// pending events, the report pane and the local clock.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "DialogService.h"
#include "Ports.h"

class QPlainTextEdit;
class QStatusBar;
class QWidget;

namespace kelvorin {

// Message boxes and file dialogs shown with QMessageBox and QFileDialog.
class QtDialogService : public DialogService {
public:
    void Message(QWidget* parent, const QString& text, const QString& caption, Icon icon) override;
    bool Question(QWidget* parent, const QString& text, const QString& caption) override;
    // The question icon; Yes is the default button.
    Answer YesNoCancel(QWidget* parent, const QString& text, const QString& caption) override;
    // Critical icon, caption "Error", one Abort button.
    void ErrorAbort(QWidget* parent, const QString& text) override;
    // The open dialog accepts a name of a file that does not exist; the save
    // dialog takes an existing file without asking unless CONFIRMREPLACE. A
    // name that is not an existing file gets the default extension when it
    // has none.
    std::optional<QString> OpenFileName(QWidget* parent, const QString& filter, const QString& defaultExtension,
                                        const QString& initialName) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& filter, const QString& defaultExtension,
                                        const QString& initialName, bool confirmReplace) override;
};

// "Data file (*.dat)|*.dat|All files (*.*)|*.*" as the name filters of a
// QFileDialog: {"Data file (*.dat)", "All files (*.*)"}. A description that
// does not end with its own patterns in parentheses gets them appended
// ("Text|*.txt;*.log" gives "Text (*.txt *.log)"), since Qt takes the
// patterns from there. A trailing description without patterns is dropped.
QStringList QtNameFilters(const QString& filter);
// The same filters joined in Qt's one-string form "A (*.a);;B (*.b)".
QString QtFilterText(const QString& filter);
// NAME with "." DEFAULTEXTENSION appended when its last path component has
// no extension; a name ending in "." and an empty extension leave it as is.
QString WithDefaultExtension(const QString& name, const QString& defaultExtension);

// A file dialog shown through Dialogs(); it keeps the chosen name between
// showings and proposes it the next time. A save dialog asks before it takes
// an existing file until SetConfirmReplace(false).
class QtFileDialog : public FileDialog {
public:
    enum class Kind { Open, Save };

    QtFileDialog(QWidget* parent, Kind kind, QString filter, QString defaultExtension);

    void SetFileName(const std::string& name) override { fileName_ = name; }
    std::string FileName() const override { return fileName_; }
    void SetConfirmReplace(bool confirm) override { confirmReplace_ = confirm; }
    bool Execute() override;

    Kind DialogKind() const { return kind_; }
    const QString& Filter() const { return filter_; }
    const QString& DefaultExtension() const { return defaultExtension_; }

private:
    QWidget* parent_;
    Kind kind_;
    QString filter_;
    QString defaultExtension_;
    std::string fileName_;
    bool confirmReplace_ = true;
};

// The message boxes of the engine and the Table commands, through Dialogs().
// A message has no icon; the question has the question icon and the caption
// "Confirm"; the error box has the critical icon, the caption "Error" and
// one Abort button.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text) override;
    void ShowErrorAbort(const std::string& text) override;

private:
    QWidget* parent_;
};

// The status bar's one text panel; a message stays until the next one.
class QtStatusLine : public StatusLine {
public:
    explicit QtStatusLine(QStatusBar* bar) : bar_(bar) {}
    void SetText(const std::string& text) override;

private:
    QStatusBar* bar_;
};

class QtEventPump : public EventPump {
public:
    void ProcessPendingEvents() override;
};

// The report pane. The widget may wrap long lines on screen; Lines gives the
// lines as they were appended.
class PlainTextReport : public ReportSink {
public:
    explicit PlainTextReport(QPlainTextEdit* edit) : edit_(edit) {}
    void AppendLine(const std::string& line) override;
    void Clear() override;
    std::vector<std::string> Lines() const override { return lines_; }

private:
    QPlainTextEdit* edit_;
    std::vector<std::string> lines_;
};

// The local clock; dates in the system locale's short format, times of day
// in its long format as hours, minutes and whole seconds (without a time
// zone).
class QtClock : public Clock {
public:
    double Now() const override;
    std::string ShortDateText(double dateTime) const override;
    std::string LongTimeText(double dateTime) const override;

    // The locale's long time format without its time-zone part, or
    // "HH:mm:ss" when what is left does not show hours, minutes and seconds.
    static QString LongTimeFormat();
    // FORMAT with every time-zone field ("t") and the blanks next to it
    // removed; quoted literal text is kept.
    static QString WithoutTimeZone(const QString& format);
};

}  // namespace kelvorin
