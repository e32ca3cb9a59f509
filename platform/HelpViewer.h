// The program's help: two help viewers, each showing the pages of one kind
// of help file in a non-modal browser window of its own, and the help
// manager, which hands a request to the registered viewer that handles the
// help file's kind.
//
// A help file is a folder of HTML pages whose name ends in the file's
// extension ("zelkat.chm/", "zelkat.hlp/") with a map, "map.txt", that
// names the page of each context number and topic ID, one per line:
//     # comment
//     12 contents.html
//     IDH_Options options.html
// A help file named without a folder is looked for in the viewer's folder,
// ":/help" (the pages compiled into the program) unless another is set.
//
// The viewer reports a help file, context or topic it cannot find in its
// own window; the program shows nothing of its own.
#pragma once

#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <optional>

class QTextBrowser;
class QToolButton;

namespace kelvorin {

// The window of a help viewer: Back and Forward and the page.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(const QString& caption);

    QTextBrowser* Browser() const { return browser_; }
    // The help file whose page is shown, as it was asked for.
    const QString& HelpFile() const { return helpFile_; }
    // The page shown; empty while the window shows a problem text.
    QUrl Page() const;

    // Shows PAGE of HELPFILE and brings the window up.
    void ShowPage(const QString& helpFile, const QUrl& page);
    // Shows TEXT in place of a page and brings the window up.
    void ShowProblem(const QString& helpFile, const QString& text);

private:
    void Raise();
    void UpdateCaption();

    QString caption_;
    QString helpFile_;
    // A problem text stands in place of a page.
    bool problem_ = false;
    QTextBrowser* browser_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
};

// A viewer for the help files of one extension (compared without regard to
// case). Its window is created on the first request and reused. Asked for
// while a modal dialog is open, the window goes with that dialog, so that
// it can be read and used while the dialog stays open.
class HelpViewer {
public:
    virtual ~HelpViewer();
    HelpViewer(const HelpViewer&) = delete;
    HelpViewer& operator=(const HelpViewer&) = delete;

    // Whether HELPFILE is a file of this viewer's kind.
    bool Handles(const QString& helpFile) const;
    // Opens HELPFILE at the topic of context number CONTEXT.
    void ShowContext(const QString& helpFile, int context);
    // Opens HELPFILE at the topic named TOPIC; what a name is depends on the
    // viewer.
    virtual void ShowTopic(const QString& helpFile, const QString& topic) = 0;
    // Closes the viewer's window.
    void CloseAll();

    // The viewer's window; nullptr before the first request.
    HelpWindow* Window() const { return window_.data(); }
    // The folder in which help files named without a folder are looked for.
    void SetFolder(const QString& folder) { folder_ = folder; }
    const QString& Folder() const { return folder_; }

protected:
    HelpViewer(const QString& extension, const QString& caption);

    // The folder of HELPFILE, or nothing (after reporting it) when there is
    // no such help file.
    std::optional<QString> OpenFile(const QString& helpFile);
    // The page that the map of the help file in FOLDER names for KEY (a
    // context number or a topic ID, the latter without regard to case).
    static std::optional<QString> MapEntry(const QString& folder, const QString& key);
    // Shows PAGE (a path inside the help file, possibly with "#anchor"), or
    // reports that the help file lacks it.
    void ShowFilePage(const QString& helpFile, const QString& folder, const QString& page);
    void Report(const QString& helpFile, const QString& text);

private:
    HelpWindow& TheWindow();

    QString extension_;
    QString caption_;
    QString folder_ = QStringLiteral(":/help");
    // Owned by the viewer, or by the dialog it went with.
    QPointer<HelpWindow> window_;
};

// Files ending in ".chm". A topic name is the path of a page inside the
// help file ("contents.html", also "/contents.html").
class HtmlHelpViewer final : public HelpViewer {
public:
    HtmlHelpViewer();
    void ShowTopic(const QString& helpFile, const QString& topic) override;
};

// Files ending in ".hlp". A topic name is a topic ID of the help file's map
// ("IDH_Options").
class WinHelpViewer final : public HelpViewer {
public:
    WinHelpViewer();
    void ShowTopic(const QString& helpFile, const QString& topic) override;
};

// The help manager. A viewer stays registered until it is unregistered or
// destroyed. The requests return false when no registered viewer handles
// the help file (nothing is shown then).
void RegisterHelpViewer(HelpViewer& viewer);
void UnregisterHelpViewer(HelpViewer& viewer);
bool ShowHelpContext(const QString& helpFile, int context);
bool ShowHelpTopic(const QString& helpFile, const QString& topic);
// Closes the windows of every registered viewer.
void CloseHelpWindows();

}  // namespace kelvorin
