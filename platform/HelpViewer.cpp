#include "HelpViewer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextStream>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace kelvorin {

namespace {

const QString kMapName = QStringLiteral("map.txt");

// A path under a resource folder (":/...") as a "qrc:" address, any other
// as a local file.
QUrl UrlOfPath(const QString& path) {
    if (path.startsWith(QLatin1String(":/"))) return QUrl(QStringLiteral("qrc") + path);
    return QUrl::fromLocalFile(path);
}

std::vector<HelpViewer*>& RegisteredViewers() {
    static std::vector<HelpViewer*> viewers;
    return viewers;
}

HelpViewer* ViewerFor(const QString& helpFile) {
    for (HelpViewer* viewer : RegisteredViewers())
        if (viewer->Handles(helpFile)) return viewer;
    return nullptr;
}

}  // namespace

// ------------------------------------------------------------ HelpWindow

HelpWindow::HelpWindow(const QString& caption) : caption_(caption) {
    setObjectName("HelpWindow");
    setWindowTitle(caption_);
    // A help window left open does not keep the program running.
    setAttribute(Qt::WA_QuitOnClose, false);

    back_ = new QToolButton(this);
    back_->setObjectName("Back");
    back_->setText("< &Back");
    back_->setEnabled(false);
    forward_ = new QToolButton(this);
    forward_->setObjectName("Forward");
    forward_->setText("&Forward >");
    forward_->setEnabled(false);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("Browser");
    browser_->setOpenExternalLinks(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_, 1);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        problem_ = false;
        UpdateCaption();
    });
    resize(680, 560);
}

QUrl HelpWindow::Page() const { return problem_ ? QUrl() : browser_->source(); }

void HelpWindow::ShowPage(const QString& helpFile, const QUrl& page) {
    helpFile_ = helpFile;
    if (browser_->source() == page)
        browser_->reload();
    else
        browser_->setSource(page);
    problem_ = false;
    UpdateCaption();
    Raise();
}

void HelpWindow::ShowProblem(const QString& helpFile, const QString& text) {
    helpFile_ = helpFile;
    browser_->setPlainText(text);
    problem_ = true;
    UpdateCaption();
    Raise();
}

void HelpWindow::Raise() {
    show();
    raise();
    activateWindow();
}

void HelpWindow::UpdateCaption() {
    const QString title = problem_ ? QString() : browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? caption_ : caption_ + " - " + title);
}

// ------------------------------------------------------------ HelpViewer

HelpViewer::HelpViewer(const QString& extension, const QString& caption) : extension_(extension), caption_(caption) {}

HelpViewer::~HelpViewer() {
    UnregisterHelpViewer(*this);
    delete window_.data();
}

bool HelpViewer::Handles(const QString& helpFile) const {
    return helpFile.endsWith(extension_, Qt::CaseInsensitive);
}

HelpWindow& HelpViewer::TheWindow() {
    if (!window_) window_ = new HelpWindow(caption_);
    // A modal dialog blocks every window but itself and the windows under
    // it.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != window_ && window_->parentWidget() != modal)
        window_->setParent(modal, window_->windowFlags() | Qt::Window);
    return *window_;
}

void HelpViewer::Report(const QString& helpFile, const QString& text) { TheWindow().ShowProblem(helpFile, text); }

std::optional<QString> HelpViewer::OpenFile(const QString& helpFile) {
    QString path = helpFile.contains(QLatin1Char('/')) ? helpFile : folder_ + QLatin1Char('/') + helpFile;
    if (!QFileInfo(path).isDir()) {
        // File names are matched without regard to case, as the extension is.
        const QFileInfo wanted(path);
        for (const QString& name : wanted.dir().entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (name.compare(wanted.fileName(), Qt::CaseInsensitive) == 0) path = wanted.dir().filePath(name);
    }
    if (!QFileInfo(path).isDir()) {
        Report(helpFile, "Cannot open the help file " + helpFile + ".");
        return std::nullopt;
    }
    return path;
}

std::optional<QString> HelpViewer::MapEntry(const QString& folder, const QString& key) {
    QFile map(folder + QLatin1Char('/') + kMapName);
    if (!map.open(QIODevice::ReadOnly | QIODevice::Text)) return std::nullopt;
    QTextStream lines(&map);
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    while (!lines.atEnd()) {
        const QString line = lines.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList parts = line.split(blanks, Qt::SkipEmptyParts);
        if (parts.size() >= 2 && parts[0].compare(key, Qt::CaseInsensitive) == 0) return parts[1];
    }
    return std::nullopt;
}

void HelpViewer::ShowFilePage(const QString& helpFile, const QString& folder, const QString& page) {
    const qsizetype hash = page.indexOf(QLatin1Char('#'));
    const QString path = hash < 0 ? page : page.left(hash);
    if (path.isEmpty() || !QFileInfo(folder + QLatin1Char('/') + path).isFile()) {
        Report(helpFile, "The help file " + helpFile + " has no page " + page + ".");
        return;
    }
    QUrl url = UrlOfPath(folder + QLatin1Char('/') + path);
    if (hash >= 0) url.setFragment(page.mid(hash + 1));
    TheWindow().ShowPage(helpFile, url);
}

void HelpViewer::ShowContext(const QString& helpFile, int context) {
    const std::optional<QString> folder = OpenFile(helpFile);
    if (!folder) return;
    const std::optional<QString> page = MapEntry(*folder, QString::number(context));
    if (!page) {
        Report(helpFile, "The help file " + helpFile + " has no topic for the context number " +
                             QString::number(context) + ".");
        return;
    }
    ShowFilePage(helpFile, *folder, *page);
}

void HelpViewer::CloseAll() {
    if (window_) window_->close();
}

HtmlHelpViewer::HtmlHelpViewer() : HelpViewer(QStringLiteral(".chm"), QStringLiteral("Kelvorin Help")) {}

void HtmlHelpViewer::ShowTopic(const QString& helpFile, const QString& topic) {
    const std::optional<QString> folder = OpenFile(helpFile);
    if (!folder) return;
    ShowFilePage(helpFile, *folder, topic.startsWith(QLatin1Char('/')) ? topic.mid(1) : topic);
}

WinHelpViewer::WinHelpViewer() : HelpViewer(QStringLiteral(".hlp"), QStringLiteral("Kelvorin Options Help")) {}

void WinHelpViewer::ShowTopic(const QString& helpFile, const QString& topic) {
    const std::optional<QString> folder = OpenFile(helpFile);
    if (!folder) return;
    const std::optional<QString> page = MapEntry(*folder, topic);
    if (!page) {
        Report(helpFile, "The help file " + helpFile + " has no topic " + topic + ".");
        return;
    }
    ShowFilePage(helpFile, *folder, *page);
}

// ----------------------------------------------------------- help manager

void RegisterHelpViewer(HelpViewer& viewer) {
    std::vector<HelpViewer*>& viewers = RegisteredViewers();
    if (std::find(viewers.begin(), viewers.end(), &viewer) == viewers.end()) viewers.push_back(&viewer);
}

void UnregisterHelpViewer(HelpViewer& viewer) {
    std::vector<HelpViewer*>& viewers = RegisteredViewers();
    viewers.erase(std::remove(viewers.begin(), viewers.end(), &viewer), viewers.end());
}

bool ShowHelpContext(const QString& helpFile, int context) {
    HelpViewer* viewer = ViewerFor(helpFile);
    if (viewer == nullptr) return false;
    viewer->ShowContext(helpFile, context);
    return true;
}

bool ShowHelpTopic(const QString& helpFile, const QString& topic) {
    HelpViewer* viewer = ViewerFor(helpFile);
    if (viewer == nullptr) return false;
    viewer->ShowTopic(helpFile, topic);
    return true;
}

void CloseHelpWindows() {
    for (HelpViewer* viewer : RegisteredViewers()) viewer->CloseAll();
}

}  // namespace kelvorin
