// The About box: a banner picture across the top and, under it, six
// one-line labels: the version, the rights notice, the authors, their
// department, institution and e-mail address. It has no buttons; the user
// closes it with its close box.
#pragma once

#include <QDialog>

class QLabel;

namespace kelvorin {

class TAbout : public QDialog {
    Q_OBJECT
public:
    // The version shown is the application's version at this moment.
    explicit TAbout(QWidget* parent = nullptr);

    QLabel* Image1() const { return image1_; }
    // Label1 .. Label6, top to bottom.
    QLabel* Label(int number) const;

private:
    QLabel* image1_ = nullptr;
    QLabel* labels_[6] = {};
};

}  // namespace kelvorin
