// The About box: a banner picture and six one-line labels.
#pragma once

#include <QDialog>

namespace kelvorin {

class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget* parent = nullptr);
};

}  // namespace kelvorin
