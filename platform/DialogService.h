// Every message box and file dialog of the program goes through one
// replaceable service, so tests can answer them without a modal loop. The
// program uses QtDialogService unless another is installed; a test installs
// its own answers with SetDialogService.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace kelvorin {

class DialogService {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    enum class Answer { Yes, No, Cancel };

    virtual ~DialogService() = default;
    // A message with a single OK button.
    virtual void Message(QWidget* parent, const QString& text, const QString& caption, Icon icon) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text, const QString& caption) = 0;
    // A question with Yes, No and Cancel; a box closed without a button
    // (Escape, its close box) answers Cancel.
    virtual Answer YesNoCancel(QWidget* parent, const QString& text, const QString& caption) = 0;
    // The standard error dialog with a single Abort button.
    virtual void ErrorAbort(QWidget* parent, const QString& text) = 0;
    // Open and save dialogs. FILTER is in the form "Data file (*.dat)|*.dat|...";
    // DEFAULTEXTENSION ("dat") is appended to a name typed without one;
    // INITIALNAME is proposed. Nothing when the user cancels. CONFIRMREPLACE:
    // the save dialog asks the platform's question before it takes an
    // existing file, because the caller replaces that file.
    virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& filter,
                                                const QString& defaultExtension, const QString& initialName) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& filter,
                                                const QString& defaultExtension, const QString& initialName,
                                                bool confirmReplace) = 0;
};

// The service in use (QtDialogService unless replaced).
DialogService& Dialogs();
// Replaces the service; nullptr restores the standard one. The caller keeps
// ownership.
void SetDialogService(DialogService* service);

}  // namespace kelvorin
