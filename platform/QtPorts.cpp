#include "QtPorts.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QTime>
#include <utility>

#include "DateTime.h"

namespace kelvorin {

namespace {

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

// What the unquoted fields of a date-time format show.
struct FormatFields {
    bool Hours = false;
    bool Minutes = false;
    bool Seconds = false;
    bool Milliseconds = false;
};

FormatFields FieldsOf(const QString& format) {
    FormatFields fields;
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        if (ch == QLatin1Char('h') || ch == QLatin1Char('H')) fields.Hours = true;
        if (ch == QLatin1Char('m')) fields.Minutes = true;
        if (ch == QLatin1Char('s')) fields.Seconds = true;
        if (ch == QLatin1Char('z')) fields.Milliseconds = true;
    }
    return fields;
}

}  // namespace

// ---------------------------------------------------------------- QtFileDialog

QtFileDialog::QtFileDialog(QWidget* parent, Kind kind, QString filter, QString defaultExtension)
    : parent_(parent), kind_(kind), filter_(std::move(filter)), defaultExtension_(std::move(defaultExtension)) {}

bool QtFileDialog::Execute() {
    const QString initial = QFile::decodeName(QByteArray::fromStdString(fileName_));
    const std::optional<QString> chosen =
        kind_ == Kind::Open ? Dialogs().OpenFileName(parent_, filter_, defaultExtension_, initial)
                            : Dialogs().SaveFileName(parent_, filter_, defaultExtension_, initial, confirmReplace_);
    if (!chosen) return false;
    fileName_ = QFile::encodeName(*chosen).toStdString();
    return true;
}

// -------------------------------------------------------------- QtMessageBoxes

void QtMessageBoxes::Show(const std::string& text, const std::string& caption) {
    Dialogs().Message(parent_, FromStd(text), FromStd(caption), DialogService::Icon::None);
}

bool QtMessageBoxes::AskYesNo(const std::string& text) {
    return Dialogs().Question(parent_, FromStd(text), QStringLiteral("Confirm"));
}

void QtMessageBoxes::ShowErrorAbort(const std::string& text) { Dialogs().ErrorAbort(parent_, FromStd(text)); }

// ------------------------------------------------------- status line and pump

void QtStatusLine::SetText(const std::string& text) { bar_->showMessage(FromStd(text)); }

void QtEventPump::ProcessPendingEvents() { QCoreApplication::processEvents(); }

// -------------------------------------------------------------- PlainTextReport

void PlainTextReport::AppendLine(const std::string& line) {
    // Each line is a paragraph of its own. The first one goes into the empty
    // document, so leading empty lines are kept as lines (appendPlainText
    // would merge them).
    QScrollBar* scroll = edit_->verticalScrollBar();
    const bool atBottom = scroll->value() >= scroll->maximum();
    QTextCursor cursor(edit_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (!lines_.empty()) cursor.insertBlock();
    cursor.insertText(FromStd(line));
    cursor.endEditBlock();
    lines_.push_back(line);
    if (atBottom) scroll->setValue(scroll->maximum());
}

void PlainTextReport::Clear() {
    edit_->clear();
    lines_.clear();
}

// ----------------------------------------------------------------------- QtClock

double QtClock::Now() const { return LocalNow(); }

std::string QtClock::ShortDateText(double dateTime) const {
    const CivilDateTime civil = FromDateTime(dateTime);
    const QDate date(civil.Year, civil.Month, civil.Day);
    return QLocale::system().toString(date, QLocale::ShortFormat).toStdString();
}

std::string QtClock::LongTimeText(double dateTime) const {
    const CivilDateTime civil = FromDateTime(dateTime);
    const QTime time(civil.Hour, civil.Minute, civil.Second);
    return QLocale::system().toString(time, LongTimeFormat()).toStdString();
}

QString QtClock::LongTimeFormat() {
    const QString format = WithoutTimeZone(QLocale::system().timeFormat(QLocale::LongFormat));
    const FormatFields fields = FieldsOf(format);
    if (!fields.Hours || !fields.Minutes || !fields.Seconds || fields.Milliseconds) return QStringLiteral("HH:mm:ss");
    return format;
}

QString QtClock::WithoutTimeZone(const QString& format) {
    QString result;
    bool quoted = false;
    const qsizetype length = format.size();
    for (qsizetype k = 0; k < length; ++k) {
        const QChar ch = format[k];
        if (ch == QLatin1Char('\'')) quoted = !quoted;
        if (quoted || ch != QLatin1Char('t')) {
            result += ch;
            continue;
        }
        // A zone field: drop it with the blanks around it, keeping one blank
        // between what stands before and after it.
        while (k + 1 < length && format[k + 1] == QLatin1Char('t')) ++k;
        while (k + 1 < length && format[k + 1].isSpace()) ++k;
        while (!result.isEmpty() && result.back().isSpace()) result.chop(1);
        if (!result.isEmpty() && k + 1 < length) result += QLatin1Char(' ');
    }
    return result.trimmed();
}

}  // namespace kelvorin
