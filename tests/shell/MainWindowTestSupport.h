// Support for the widget tests of the main window: the six windows built as
// the program builds them, a dialog service whose answers the tests choose,
// and two drivers that act from inside the event loops the program runs
// itself (a modal window's loop, the event pumping of a long enumeration).
// Every wait is bounded, so a fault shows as a failed expectation, not as a
// test that hangs.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QStatusBar>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "DialogService.h"
#include "MockDialogs.h"
#include "SettingsStore.h"
#include "TAbout.h"
#include "TCTable.h"
#include "TInputGrid.h"
#include "TOptions.h"
#include "TProGrid.h"
#include "TResults.h"

namespace kelvorin::mainwindowtest {

using MockDialogs = testdialogs::MockDialogs;

// The six windows in the order the program creates them, connected as at
// start-up. The main window is not shown yet.
struct Program {
    explicit Program(SettingsStore& settings)
        : CTable(settings),
          Options(settings, &CTable),
          InputGrid(&Options, &CTable),
          Results(&CTable),
          About(&CTable),
          ProGrid(&CTable) {
        CTable.Attach(&Options, &InputGrid, &Results, &About, &ProGrid);
    }

    TCTable CTable;
    TOptions Options;
    TInputGrid InputGrid;
    TResults Results;
    TAbout About;
    TProGrid ProGrid;
};

// How long a driver waits for what it expects before it gives up.
inline constexpr int kModalBoundMs = 10000;
inline constexpr int kRunBoundMs = 40000;

inline void CloseWindow(QWidget* window) {
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->reject();
    else
        window->close();
}

// Acts on modal windows from inside their own modal loop. Each step waits
// until its window is the active modal window, then runs its action, which
// must close the window. A window that does not come, or a modal window
// that no step expects, is reported and closed after the bound.
class ModalDriver {
public:
    ModalDriver() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

    void When(QWidget* window, std::function<void()> action) {
        steps_.push_back(Step{window, std::move(action)});
        waiting_.invalidate();
    }
    bool Done() const { return steps_.empty(); }
    void Clear() { steps_.clear(); }

private:
    struct Step {
        QWidget* Window;
        std::function<void()> Action;
    };

    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!steps_.empty() && modal == steps_.front().Window) {
            Step step = std::move(steps_.front());
            steps_.pop_front();
            waiting_.invalidate();
            step.Action();
            if (step.Window->isVisible()) {
                ADD_FAILURE() << "modal window " << step.Window->objectName().toStdString()
                              << " was left open by its action";
                CloseWindow(step.Window);
            }
            return;
        }
        if (steps_.empty() && modal == nullptr) {
            waiting_.invalidate();
            return;
        }
        if (!waiting_.isValid()) waiting_.start();
        if (waiting_.elapsed() < kModalBoundMs) return;
        waiting_.invalidate();
        if (!steps_.empty()) {
            ADD_FAILURE() << "modal window " << steps_.front().Window->objectName().toStdString()
                          << " was not shown";
            steps_.pop_front();
        } else {
            ADD_FAILURE() << "unexpected modal window " << modal->objectName().toStdString();
        }
        if (modal != nullptr) CloseWindow(modal);
    }

    QTimer timer_;
    std::deque<Step> steps_;
    QElapsedTimer waiting_;
};

// Acts at the progress displays of a running enumeration, the moments at
// which a run lets window events through: each queued action runs at a
// later display than the one before. A run that goes on past the bound is
// broken off and reported, so a missed break-off cannot hold the tests up.
class ProgressDriver {
public:
    explicit ProgressDriver(TCTable& window) : window_(window) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

    void At(std::function<void()> action) {
        if (actions_.empty()) lastCount_ = 0;
        actions_.push_back(std::move(action));
    }
    bool Done() const { return actions_.empty(); }
    // Starts the bound of the run about to be started.
    void StartRun() { running_.start(); }

private:
    void Tick() {
        const AnalysisState& state = window_.Engine().State();
        if (!state.Running) return;
        if (running_.isValid() && running_.elapsed() > kRunBoundMs) {
            running_.invalidate();
            actions_.clear();
            ADD_FAILURE() << "the run was still going after " << kRunBoundMs << " ms; broken off";
            window_.Engine().BreakOff();
            return;
        }
        if (actions_.empty() || state.SamplePointCount == 0 || state.SamplePointCount == lastCount_) return;
        lastCount_ = state.SamplePointCount;
        std::function<void()> action = std::move(actions_.front());
        actions_.pop_front();
        action();
    }

    TCTable& window_;
    QTimer timer_;
    std::deque<std::function<void()>> actions_;
    std::uint64_t lastCount_ = 0;
    QElapsedTimer running_;
};

// A click on the status bar as the window system delivers it: a press of
// the left button and its release.
inline void ClickStatusBar(TCTable& window) {
    QStatusBar* bar = window.StatusBar1();
    const QPointF local(bar->width() / 2.0, bar->height() / 2.0);
    const QPointF global = bar->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &release);
}

// Processes events until DONE holds or the bound has passed; the result of
// DONE at the end.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int boundMs = kModalBoundMs) {
    QDeadlineTimer deadline(boundMs);
    while (!done() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace kelvorin::mainwindowtest
