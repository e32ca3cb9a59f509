// The six windows built as the program builds them, and two drivers that act
// from inside the event loops the program runs itself (a modal window's loop,
// the event pumping of a long enumeration). Every wait is bounded, so a fault
// shows as a failed expectation, not as a hanging test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>

#include "MockDialogs.h"
#include "TAbout.h"
#include "TCTable.h"
#include "TInputGrid.h"
#include "TOptions.h"
#include "TProGrid.h"
#include "TResults.h"

[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace kelvorin::mainwindowtest {

using MockDialogs = testdialogs::MockDialogs;
inline constexpr int kBoundMs = 10000;

// The six windows in the order the program creates them, connected as at
// start-up; the main window not shown yet.
struct Program {
    explicit Program(SettingsStore& settings)
        : CTable(settings), Options(settings, &CTable), InputGrid(&Options, &CTable), Results(&CTable),
          About(&CTable), ProGrid(&CTable) {
        CTable.Attach(&Options, &InputGrid, &Results, &About, &ProGrid);
    }
    TCTable CTable;
    TOptions Options;
    TInputGrid InputGrid;
    TResults Results;
    TAbout About;
    TProGrid ProGrid;
};

// Runs each step's action once its window is the active modal window, then
// closes the window if the action left it open. A window that does not come,
// or one no step expects, is reported and closed after the bound.
class ModalDriver {
public:
    ModalDriver() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(10);
    }
    void When(QWidget* window, std::function<void()> action) { steps_.push_back({window, std::move(action)}); }
    bool Done() const { return steps_.empty(); }

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!steps_.empty() && modal == steps_.front().first) {
            auto [window, action] = std::move(steps_.front());
            steps_.pop_front();
            waiting_.invalidate();
            action();
            if (window->isVisible()) window->close();
        } else if (steps_.empty() && modal == nullptr) {
            waiting_.invalidate();
        } else if (!waiting_.isValid()) {
            waiting_.start();
        } else if (waiting_.elapsed() > kBoundMs) {
            waiting_.invalidate();
            ADD_FAILURE() << (steps_.empty() ? "an unexpected modal window" : "an expected modal window never came");
            if (!steps_.empty()) steps_.pop_front();
            if (modal != nullptr) modal->close();
        }
    }
    QTimer timer_;
    std::deque<std::pair<QWidget*, std::function<void()>>> steps_;
    QElapsedTimer waiting_;
};

// Runs each queued action at a later progress display of a running
// enumeration than the one before. A run still going after the bound is
// broken off and reported.
class ProgressDriver {
public:
    explicit ProgressDriver(TCTable& window) : window_(window) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start(0);
    }
    void At(std::function<void()> action) {
        if (actions_.empty()) lastCount_ = 0;
        actions_.push_back(std::move(action));
    }
    bool Done() const { return actions_.empty(); }
    void StartRun() { running_.start(); }

private:
    void Tick() {
        const AnalysisState& state = window_.Engine().State();
        if (!state.Running) return;
        if (running_.isValid() && running_.elapsed() > 4 * kBoundMs) {
            running_.invalidate();
            actions_.clear();
            ADD_FAILURE() << "the run was still going after the bound; broken off";
            window_.Engine().BreakOff();
        } else if (!actions_.empty() && state.SamplePointCount != 0 && state.SamplePointCount != lastCount_) {
            lastCount_ = state.SamplePointCount;
            auto action = std::move(actions_.front());
            actions_.pop_front();
            action();
        }
    }
    TCTable& window_;
    QTimer timer_;
    std::deque<std::function<void()>> actions_;
    std::uint64_t lastCount_ = 0;
    QElapsedTimer running_;
};

// A left click on the status bar as the window system delivers it.
inline void ClickStatusBar(TCTable& window) {
    QStatusBar* bar = window.StatusBar1();
    const QPointF at(bar->width() / 2.0, bar->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(bar, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(bar, &release);
}

inline bool ProcessEventsUntil(const std::function<bool()>& done) {
    for (QDeadlineTimer deadline(kBoundMs); !done() && !deadline.hasExpired();)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace kelvorin::mainwindowtest
