#include "ApplicationSetup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QProxyStyle>
#include <clocale>

#ifndef KELVORIN_VERSION
// The project version, for a build that does not pass its own.
#define KELVORIN_VERSION "0.1.0"
#endif

namespace kelvorin {
namespace {

// The platform's style, except that a disabled menu item can be highlighted
// like any other: its hint then shows in the status bar (Read > "from same
// file" tells that no data file has been read yet) and F1 opens its help.
class HighlightDisabledItemsStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_Menu_AllowActiveAndDisabled) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

}  // namespace

void SetUpApplication() {
    QCoreApplication::setApplicationName("Kelvorin");
    QCoreApplication::setApplicationVersion(KELVORIN_VERSION);
    std::setlocale(LC_NUMERIC, "C");
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr)
        QApplication::setStyle(new HighlightDisabledItemsStyle);
}

}  // namespace kelvorin
