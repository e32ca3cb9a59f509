// For the widget tests that run under a window manager: whether a shown
// window has been framed.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QWidget>

namespace kelvorin::testwindows {

// Processes events until the window manager has framed WINDOW (the corner
// of its frame is no longer that of its inside), or five seconds have
// passed; whether it was framed.
inline bool Framed(QWidget& window) {
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired();) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (window.frameGeometry().topLeft() != window.geometry().topLeft()) return true;
    }
    return false;
}

}  // namespace kelvorin::testwindows
