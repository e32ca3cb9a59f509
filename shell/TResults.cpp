#include "TResults.h"

#include "Fonts.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "DialogService.h"
#include "SameFile.h"
#include "TextPrinting.h"

namespace kelvorin {

namespace {

constexpr int kDesignWidth = 652;
constexpr int kDesignHeight = 563;

// Whether TEXT holds a character that the count takes otherwise than the
// document's size does: half of a surrogate pair (the pair is one
// character) or a line separator (a line break, two).
bool HoldsSpecial(QStringView text) {
    for (const QChar c : text)
        if (c.isSurrogate() || c == QChar::LineSeparator) return true;
    return false;
}

}  // namespace

TResults::TResults(QWidget* parent)
    : QDialog(parent),
      saveDialog1_(this, QtFileDialog::Kind::Save, QStringLiteral("Text (*.txt)|*.txt"), QStringLiteral("txt")),
      printer_(PrintPlainText) {
    setObjectName(QStringLiteral("Results"));
    setWindowTitle(QStringLiteral("Results"));

    mainMenu1_ = new QMenuBar(this);
    mainMenu1_->setObjectName(QStringLiteral("MainMenu1"));
    auto addItem = [this](const char* name, const char* caption, void (TResults::*handler)()) {
        QAction* action = mainMenu1_->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromUtf8(name));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    eraseall1_ = addItem("Eraseall1", "&Erase all", &TResults::Eraseall1Click);
    savetofile1_ = addItem("Savetofile1", "&Save to file", &TResults::Savetofile1Click);
    print1_ = addItem("Print1", "&Print", &TResults::Print1Click);
    return1_ = addItem("Return1", "&Return", &TResults::Return1Click);

    richEdit1_ = new QPlainTextEdit(this);
    richEdit1_->setObjectName(QStringLiteral("RichEdit1"));
    richEdit1_->setFont(ReportFont());
    richEdit1_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    richEdit1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    richEdit1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    richEdit1_->installEventFilter(this);
    connect(richEdit1_->document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { NoteAdded(position, added); });

    statusBar1_ = new QStatusBar(this);
    statusBar1_->setObjectName(QStringLiteral("StatusBar1"));
    statusBar1_->setSizeGripEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(mainMenu1_);
    layout->addWidget(richEdit1_, 1);
    layout->addWidget(statusBar1_);

    resize(kDesignWidth, kDesignHeight);
}

TResults::~TResults() = default;

void TResults::AppendLine(const std::string& line) {
    // Every stored line ends with a line break; a last line typed without
    // one gets it first.
    QTextCursor cursor(richEdit1_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (!cursor.block().text().isEmpty()) cursor.insertBlock();
    cursor.insertText(QString::fromStdString(line));
    cursor.insertBlock();
    cursor.endEditBlock();
}

QString TResults::CountText(const QString& text) {
    // Characters, not UTF-16 units: a surrogate pair is one character.
    qsizetype characters = text.size();
    const QChar* const end = text.constData() + text.size();
    for (const QChar* c = text.constData(); c != end; ++c) {
        if (*c == QLatin1Char('\n')) ++characters;
        else if (c->isHighSurrogate() && c + 1 != end && c[1].isLowSurrogate()) --characters, ++c;
    }
    return QString::number(characters);
}

namespace {

// The document's raw text with its paragraph and line separators as line
// feeds.
QString WithLineFeeds(QString raw) {
    for (QChar& c : raw)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
    return raw;
}

}  // namespace

QString TResults::Text() const {
    // The document's own characters, lines joined by line feeds. The
    // editor's toPlainText would also make every no-break space a plain
    // blank, so a saved file would not hold the text the editor shows.
    return WithLineFeeds(richEdit1_->document()->toRawText());
}

void TResults::SetPrinter(TextPrinter printer) { printer_ = printer ? std::move(printer) : TextPrinter(PrintPlainText); }

void TResults::UpdateStatusBar() {
    // The count is taken at every key: from the document's sizes where that
    // is exact, at once however long the text (its characters, every
    // paragraph break one of them, and one more per break for CR LF).
    const QTextDocument* document = richEdit1_->document();
    if (mayHoldSpecial_) {
        QString raw = document->toRawText();
        mayHoldSpecial_ = HoldsSpecial(raw);
        if (mayHoldSpecial_) {
            statusBar1_->showMessage(CountText(WithLineFeeds(std::move(raw))));
            return;
        }
    }
    statusBar1_->showMessage(QString::number(document->characterCount() - 1 + document->blockCount() - 1));
}

void TResults::NoteAdded(int position, int added) {
    if (mayHoldSpecial_ || added <= 0) return;
    QTextDocument* document = richEdit1_->document();
    // (A text set whole is reported one character longer than it is.)
    const int end = std::min(position + added, document->characterCount() - 1);
    if (end <= position) return;
    QTextCursor cursor(document);
    cursor.setPosition(position);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    mayHoldSpecial_ = HoldsSpecial(cursor.selectedText());
}

bool TResults::HasUnsavedText() const {
    const QTextDocument* document = richEdit1_->document();
    return document->isModified() && !document->isEmpty();
}

void TResults::Eraseall1Click() {
    richEdit1_->clear();
    UpdateStatusBar();
}

void TResults::Savetofile1Click() { SaveToFile(); }

bool TResults::SaveToFile() {
    const std::optional<std::string> fileName = ChooseSaveFile();
    return fileName && WriteToFile(*fileName);
}

std::optional<std::string> TResults::ChooseSaveFile() {
    if (!saveDialog1_.Execute()) return std::nullopt;
    // The data file being read is not replaced: the reader would go on in
    // its old contents, and the tables in it would be lost.
    if (dataFile_ && IsSameFile(saveDialog1_.FileName(), dataFile_())) {
        Dialogs().Message(this, QString::fromUtf8(kDataFileBeingRead), QStringLiteral("Error"),
                          DialogService::Icon::Error);
        return std::nullopt;
    }
    return saveDialog1_.FileName();
}

bool TResults::WriteToFile(const std::string& fileName) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));
    QString text = Text();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const QByteArray bytes = text.toUtf8();
    // The file is replaced only once the whole text is written. Unbuffered,
    // so that a short write (a full disk) shows in the count written rather
    // than going unnoticed in a later flush. A device or a pipe is written
    // to as it stands: a replacement would put a plain file in its place.
    bool written = false;
    const QFileInfo target(name);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        QFile device(name);
        written = device.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && device.write(bytes) == bytes.size();
    } else {
        QSaveFile file(name);
        written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(bytes) == bytes.size() &&
                  file.commit();
        if (!written) file.cancelWriting();
    }
    if (!written) {
        Dialogs().Message(this, QStringLiteral("Cannot write file ") + name, QStringLiteral("Error"),
                          DialogService::Icon::Error);
        return false;
    }
    richEdit1_->document()->setModified(false);
    return true;
}

void TResults::Print1Click() {
    QString error;
    if (!printer_(Text(), richEdit1_->font(), &error)) {
        if (error.isEmpty()) error = QStringLiteral("Printing failed.");
        Dialogs().Message(this, error, QStringLiteral("Error"), DialogService::Icon::Error);
    }
}

void TResults::Return1Click() { accept(); }

void TResults::FormActivate() { UpdateStatusBar(); }

void TResults::RichEdit1KeyDown() { UpdateStatusBar(); }

bool TResults::eventFilter(QObject* watched, QEvent* event) {
    // The count is taken before the key reaches the text.
    if (watched == richEdit1_ && event->type() == QEvent::KeyPress) RichEdit1KeyDown();
    return QDialog::eventFilter(watched, event);
}

void TResults::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

void TResults::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TResults::closeEvent(QCloseEvent* event) {
    // The close box does what Return does.
    if (isVisible()) Return1Click();
    event->accept();
}

void TResults::keyPressEvent(QKeyEvent* event) {
    // Escape does not close the editor.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kelvorin
