#include "TOptions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "DialogService.h"
#include "HelpViewer.h"
#include "StoredOptions.h"

namespace kelvorin {

namespace {

// The dialog's own help file and the context that F1 asks for in it.
const char* const kOptionsHelpFile = "zelkat.hlp";
constexpr int kOptionsHelpContext = 1200;
const char* const kOptionsHelpTopic = "IDH_Options";

// The check box of each boolean option, in the order of kBooleanOptionNames,
// and its design caption.
constexpr int kCheckBoxOfOption[12] = {1, 2, 7, 12, 3, 4, 5, 6, 11, 8, 9, 10};
const char* const kCaptionOfOption[12] = {
    "&Observed numbers", "&Expected numbers", "Column percentages", "Row percentages",
    "&Likelihood ratio",  "&Chi Square",       "Likelihood &ratio",  "Chi &Square",
    "Fisher",             "&Write details to a file", "&Two tailed test", "O&ne tailed test"};

// The group boxes from top to bottom with the options they hold.
struct Group {
    const char* Name;
    const char* Caption;
    int Count;
    int Options[4];
};
const Group kGroups[] = {
    {"GroupBox1", "Tables", 4, {0, 1, 2, 3}},
    {"GroupBox2", "Exact tests", 3, {4, 5, 8}},
    {"GroupBox3", "Approximately tests", 2, {6, 7}},
    {"GroupBox4", "Sample points", 1, {9}},
    {"GroupBox5", "2 x 2 tables", 2, {10, 11}},
};
constexpr int kDetailsOption = 9;

}  // namespace

TOptions::TOptions(SettingsStore& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
    setObjectName("Options");
    setWindowTitle("Options");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setProperty("helpFile", QString(kOptionsHelpFile));
    setProperty("helpContext", kOptionsHelpContext);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (const Group& group : kGroups) {
        auto* box = new QGroupBox(QString::fromUtf8(group.Caption), this);
        box->setObjectName(group.Name);
        const bool details = group.Options[0] == kDetailsOption;
        QBoxLayout* boxLayout = nullptr;
        if (details)
            boxLayout = new QHBoxLayout(box);
        else
            boxLayout = new QVBoxLayout(box);
        for (int k = 0; k < group.Count; ++k) {
            const int option = group.Options[k];
            const int number = kCheckBoxOfOption[option];
            auto* checkBox = new QCheckBox(QString::fromUtf8(kCaptionOfOption[option]), box);
            checkBox->setObjectName(QString("CheckBox%1").arg(number));
            checkBoxes_[number - 1] = checkBox;
            boxLayout->addWidget(checkBox);
        }
        if (details) {
            // The detail level, to the right of its check box.
            trackBar1_ = new QSlider(Qt::Horizontal, box);
            trackBar1_->setObjectName("TrackBar1");
            trackBar1_->setRange(0, 4);
            trackBar1_->setSingleStep(1);
            trackBar1_->setPageStep(1);
            trackBar1_->setTickInterval(1);
            trackBar1_->setTickPosition(QSlider::TicksBelow);
            trackBar1_->setFixedWidth(120);
            // Its room is kept while it is hidden, so that Details does not
            // change the dialog's width under the user's pointer.
            QSizePolicy policy = trackBar1_->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            trackBar1_->setSizePolicy(policy);
            boxLayout->addStretch(1);
            boxLayout->addWidget(trackBar1_);
        }
        layout->addWidget(box);
    }

    radioGroup1_ = new QGroupBox("Input of data", this);
    radioGroup1_->setObjectName("RadioGroup1");
    auto* radioLayout = new QVBoxLayout(radioGroup1_);
    radioItems_ = new QButtonGroup(this);
    const char* const items[2] = {"Row by row", "Column by column"};
    for (int index = 0; index < 2; ++index) {
        auto* item = new QRadioButton(items[index], radioGroup1_);
        item->setObjectName(QString("RadioGroup1Item%1").arg(index));
        radioItems_->addButton(item, index);
        radioLayout->addWidget(item);
    }
    layout->addWidget(radioGroup1_);

    button3_ = new QPushButton("&Help", this);
    button3_->setObjectName("Button3");
    button1_ = new QPushButton("Sa&ve options", this);
    button1_->setObjectName("Button1");
    button2_ = new QPushButton("Ret&urn", this);
    button2_->setObjectName("Button2");
    // Return is the default button: Enter on a check box or the track bar
    // closes the dialog. Enter on a focused button presses that button, so
    // Enter on "Save options" saves rather than closing unsaved.
    button2_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(button3_);
    buttons->addStretch(1);
    buttons->addWidget(button1_);
    buttons->addStretch(1);
    buttons->addWidget(button2_);
    layout->addLayout(buttons);

    connect(CheckBox(8), &QCheckBox::toggled, this, [this] { CheckBox8Click(); });
    connect(CheckBox(9), &QCheckBox::toggled, this, [this] { CheckBox9Click(); });
    connect(button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(button2_, &QPushButton::clicked, this, [this] { accept(); });
    connect(button3_, &QPushButton::clicked, this, [this] { Button3Click(); });

    FormCreate();
}

QCheckBox* TOptions::CheckBox(int number) const {
    return number >= 1 && number <= 12 ? checkBoxes_[number - 1] : nullptr;
}

int TOptions::RadioGroup1ItemIndex() const { return radioItems_->checkedId(); }

void TOptions::SetRadioGroup1ItemIndex(int index) {
    if (index > 1) index = 1;
    if (index >= 0) {
        radioItems_->button(index)->setChecked(true);
        return;
    }
    // No item selected: an exclusive group does not let its checked button
    // be unchecked.
    radioItems_->setExclusive(false);
    for (QAbstractButton* item : radioItems_->buttons()) item->setChecked(false);
    radioItems_->setExclusive(true);
}

AnalysisOptions TOptions::Current() const {
    AnalysisOptions options;
    for (int option = 0; option < 12; ++option)
        BooleanOption(options, option) = CheckBox(kCheckBoxOfOption[option])->isChecked();
    options.Track = trackBar1_->value();
    options.InputData = RadioGroup1ItemIndex();
    return options;
}

void TOptions::SetCurrent(const AnalysisOptions& options) {
    for (int option = 0; option < 12; ++option)
        CheckBox(kCheckBoxOfOption[option])->setChecked(BooleanOption(options, option));
    trackBar1_->setValue(options.Track);  // the track bar keeps to 0..4
    SetRadioGroup1ItemIndex(options.InputData);
}

void TOptions::FormCreate() {
    SetCurrent(ReadStoredOptions(settings_));
    trackBar1_->setVisible(CheckBox(8)->isChecked());
}

void TOptions::Button1Click() {
    // The options are written through to the store at once, so that a store
    // that cannot be written is told now and not taken for saved options.
    WriteStoredOptions(settings_, Current());
    if (!settings_.Flush())
        Dialogs().Message(this, QStringLiteral("Cannot write file ") + QString::fromStdString(settings_.Where()),
                          QStringLiteral("Error"), DialogService::Icon::Error);
}

void TOptions::Button3Click() { ShowHelpTopic(kOptionsHelpFile, kOptionsHelpTopic); }

void TOptions::CheckBox8Click() { trackBar1_->setVisible(CheckBox(8)->isChecked()); }

void TOptions::CheckBox9Click() {
    QCheckBox* twoTailed = CheckBox(9);
    twoTailed->setText(twoTailed->isChecked() ? "Two tailed test - not recommended!" : "Two tailed test");
}

void TOptions::PlaceAt(int left, int top) {
    // The layout gives the dialog its fixed size now, not as it is shown: a
    // size set then would count as a placement of the dialog's inside, and
    // a window manager would put the inside, not the frame, at LEFT, TOP (a
    // title bar higher than asked). Where the frame is known as the dialog
    // is shown, showEvent puts it there again.
    layout()->activate();
    move(left, top);
    placedAt_ = QPoint(left, top);
}

void TOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (placedAt_ && frameGeometry().topLeft() != geometry().topLeft() && frameGeometry().topLeft() != *placedAt_)
        move(*placedAt_);
    placedAt_.reset();
    const QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (screen == nullptr) screen = this->screen();
    if (screen == nullptr) return;
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    // Right and bottom edges first, so that a dialog larger than the area
    // keeps its top left corner (its title bar) on the screen.
    const int left = std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width()));
    const int top = std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height()));
    if (left != frame.left() || top != frame.top()) move(left, top);
}

void TOptions::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        ShowHelpContext(kOptionsHelpFile, kOptionsHelpContext);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kelvorin
