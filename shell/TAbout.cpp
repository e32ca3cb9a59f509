#include "TAbout.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QVBoxLayout>

// The help pages and the banner are compiled into this library; registering
// them here makes sure they are linked in wherever the About box is.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace kelvorin {

namespace {

const char* const kBanner = ":/about/banner.png";

}  // namespace

TAbout::TAbout(QWidget* parent) : QDialog(parent) {
    InitHelpResources();
    setObjectName("About");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    image1_ = new QLabel(this);
    image1_->setObjectName("Image1");
    image1_->setPixmap(QPixmap(kBanner));
    image1_->setAlignment(Qt::AlignCenter);
    layout->addWidget(image1_);

    auto* panel = new QFrame(this);
    panel->setObjectName("Panel1");
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(12, 10, 12, 12);
    panelLayout->setSpacing(2);
    const QString texts[6] = {
        "Kelvorin version " + QCoreApplication::applicationVersion(),
        "Copyright (C) 2026",
        "Kelvorin developers",
        "Dept. of Table Statistics",
        "Example Institute",
        "kelvorin@example.org",
    };
    for (int k = 0; k < 6; ++k) {
        labels_[k] = new QLabel(texts[k], panel);
        labels_[k]->setObjectName(QString("Label%1").arg(k + 1));
        labels_[k]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panelLayout->addWidget(labels_[k]);
    }
    layout->addWidget(panel);
}

QLabel* TAbout::Label(int number) const { return number >= 1 && number <= 6 ? labels_[number - 1] : nullptr; }

}  // namespace kelvorin
