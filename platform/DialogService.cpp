#include "DialogService.h"

#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QStringList>

#include "QtPorts.h"

namespace kelvorin {

namespace {

DialogService* installedService = nullptr;

QMessageBox::Icon BoxIcon(DialogService::Icon icon) {
    switch (icon) {
        case DialogService::Icon::Information: return QMessageBox::Information;
        case DialogService::Icon::Warning: return QMessageBox::Warning;
        case DialogService::Icon::Error: return QMessageBox::Critical;
        case DialogService::Icon::Question: return QMessageBox::Question;
        case DialogService::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

// Icons and type names of the files a file dialog lists, told from their
// names alone. The platform's provider reads a file whose name does not tell
// its type to guess it, and a read that never returns (as /proc/kmsg's for
// the superuser) would stop the program for good, the dialog reopening in
// that folder at every start.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override {
        return QFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QFileIconProvider::type(info);
        return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
    }
};

std::optional<QString> RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                                     const QString& defaultExtension, const QString& initialName,
                                     bool confirmReplace) {
    static NameOnlyIconProvider iconProvider;
    QFileDialog dialog(parent);
    dialog.setIconProvider(&iconProvider);
    dialog.setAcceptMode(mode);
    // The open dialog takes any name, existing or not; the save dialog asks
    // before it takes an existing file only for a caller that replaces it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmReplace);
    // Native open dialogs insist on an existing file.
    if (mode == QFileDialog::AcceptOpen) dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    const QStringList filters = QtNameFilters(filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(defaultExtension);
    if (!initialName.isEmpty()) dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    // A native dialog may not add the default extension to a typed name
    // itself; an existing file picked from the list is taken as it is.
    const QString name = chosen.first();
    if (QFileInfo::exists(name)) return name;
    return WithDefaultExtension(name, defaultExtension);
}

// The patterns of one filter entry in Qt's form: blank separated.
QString QtPatterns(const QString& patterns) {
    QStringList parts = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& part : parts) part = part.trimmed();
    parts.removeAll(QString());
    return parts.join(QLatin1Char(' '));
}

}  // namespace

DialogService& Dialogs() {
    static QtDialogService standard;
    return installedService != nullptr ? *installedService : standard;
}

void SetDialogService(DialogService* service) { installedService = service; }

QStringList QtNameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype k = 0; k + 1 < parts.size(); k += 2) {
        const QString description = parts[k].trimmed();
        const QString patterns = QtPatterns(parts[k + 1]);
        if (patterns.isEmpty()) continue;
        const QString suffix = QLatin1Char('(') + patterns + QLatin1Char(')');
        if (description.endsWith(suffix))
            result << description;
        else if (description.isEmpty())
            result << suffix;
        else
            result << description + QLatin1Char(' ') + suffix;
    }
    return result;
}

QString QtFilterText(const QString& filter) { return QtNameFilters(filter).join(QStringLiteral(";;")); }

QString WithDefaultExtension(const QString& name, const QString& defaultExtension) {
    if (name.isEmpty() || defaultExtension.isEmpty() || name.endsWith(QLatin1Char('.'))) return name;
    const QString last = QFileInfo(name).fileName();
    if (last.isEmpty() || last.contains(QLatin1Char('.'))) return name;
    return name + QLatin1Char('.') + defaultExtension;
}

void QtDialogService::Message(QWidget* parent, const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogService::Question(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

DialogService::Answer QtDialogService::YesNoCancel(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        default: return Answer::Cancel;
    }
}

void QtDialogService::ErrorAbort(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Abort, parent);
    box.exec();
}

std::optional<QString> QtDialogService::OpenFileName(QWidget* parent, const QString& filter,
                                                     const QString& defaultExtension, const QString& initialName) {
    return RunFileDialog(parent, QFileDialog::AcceptOpen, filter, defaultExtension, initialName, false);
}

std::optional<QString> QtDialogService::SaveFileName(QWidget* parent, const QString& filter,
                                                     const QString& defaultExtension, const QString& initialName,
                                                     bool confirmReplace) {
    return RunFileDialog(parent, QFileDialog::AcceptSave, filter, defaultExtension, initialName, confirmReplace);
}

}  // namespace kelvorin
