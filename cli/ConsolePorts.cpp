#include "ConsolePorts.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "DateTime.h"
#include "Format.h"

namespace kelvorin {

double SystemClock::Now() const { return LocalNow(); }

std::string SystemClock::ShortDateText(double dateTime) const {
    const CivilDateTime c = FromDateTime(dateTime);
    return Format("%04d-%02d-%02d", c.Year, c.Month, c.Day);
}

std::string SystemClock::LongTimeText(double dateTime) const {
    const CivilDateTime c = FromDateTime(dateTime);
    return Format("%02d:%02d:%02d", c.Hour, c.Minute, c.Second);
}

void StreamMessages::Show(const std::string& text, const std::string& caption) {
    if (caption == "Error" || caption == "ERROR") ++errors_;
    err_ << caption;
    if (table_ > 0) err_ << " (table " << table_ << ")";
    err_ << ": " << text << '\n';
    err_.flush();
}

bool StreamMessages::AskYesNo(const std::string& text) {
    err_ << text << " Yes\n";
    return true;
}

bool FixedFileDialog::Execute() {
    if (answer_.empty()) return false;
    name_ = answer_;
    return true;
}

namespace {
volatile std::sig_atomic_t interruptPresses = 0;
// The press that broke the current table off has been taken: it stays
// counted, so that a further press before the table is finished ends the
// program rather than being lost with the table's end.
volatile std::sig_atomic_t requestTaken = 0;
// The SIGINT action that Install replaced, put back by Uninstall.
struct sigaction previousAction {};
bool installed = false;
// SIGINT was ignored when Install came: left so.
bool ignoredBefore = false;

extern "C" void OnInterrupt(int) {
    if (interruptPresses >= 1) {
        static const char message[] = "\nInterrupted\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
        _exit(130);
    }
    interruptPresses = interruptPresses + 1;
}
}  // namespace

void InterruptHandler::Install() {
    // A new run starts with no press pending from an earlier one.
    ClearRequests();
    // A program started with SIGINT ignored (a background job of a script,
    // which the terminal's Ctrl-C is not meant for) keeps it ignored.
    if (!installed) {
        struct sigaction current {};
        sigaction(SIGINT, nullptr, &current);
        ignoredBefore = current.sa_handler == SIG_IGN;
    }
    if (ignoredBefore) return;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The handler only counts the press, which the run looks at: a read of
    // the data file from a pipe or a write to a full pipe that the press
    // comes in is taken up again, not failed as a read or write error.
    action.sa_flags = SA_RESTART;
    // Installed twice, the first replaced action is the one to keep.
    sigaction(SIGINT, &action, installed ? nullptr : &previousAction);
    installed = true;
}

void InterruptHandler::Uninstall() {
    ignoredBefore = false;
    if (!installed) return;
    sigaction(SIGINT, &previousAction, nullptr);
    installed = false;
}

bool InterruptHandler::TakeRequest() {
    if (interruptPresses == 0 || requestTaken != 0) return false;
    requestTaken = 1;
    return true;
}

void InterruptHandler::ClearRequests() {
    requestTaken = 0;
    interruptPresses = 0;
}

namespace {

// Whole seconds as minutes and seconds, or past an hour as hours and minutes.
std::string DurationText(double seconds) {
    const long long whole = std::llround(seconds);
    if (whole >= 3600) return Format("%lldh%02lldm", whole / 3600, whole / 60 % 60);
    return Format("%lldm%02llds", whole / 60, whole % 60);
}

}  // namespace

std::string ProgressText(WideCount count, double expected, double elapsedSeconds) {
    std::string text = CountText(count) + " sample points";
    const double share = expected > 0.0 ? std::min(1.0, static_cast<double>(count) / expected) : 0.0;
    if (expected > 0.0) {
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(share * kWidth);
        text += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kWidth - filled), '.') + "]";
        text += Format(" %5.1f%%", 100.0 * share);
    }
    // Until a share is known (a network forming its graph can take minutes
    // before it accounts for any point) the time so far shows the run is alive.
    if (!(share > 0.0)) return text + "  " + DurationText(std::max(0.0, elapsedSeconds)) + " elapsed";
    if (elapsedSeconds <= 0.0) return text;
    const double left = elapsedSeconds * (1.0 - share) / share;
    // Beyond a million hours the figure says nothing more (and past the
    // range of a 64-bit integer it could not be rounded at all).
    constexpr double kLongestShown = 3600.0 * 1e6;
    if (!(left < kLongestShown)) return text + "  over 1000000h left";
    return text + "  " + DurationText(left) + " left";
}

void ConsoleProgress::ProcessPendingEvents() {
    if (engine_ == nullptr) return;
    if (InterruptHandler::TakeRequest()) engine_->BreakOff();
    if (!terminal_) return;
    const AnalysisState& state = engine_->State();
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    err_ << '\r' << ProgressText(state.SamplePointCount, state.ExpectedSamplePoints, elapsed) << "\033[K";
    err_.flush();
    drawn_ = true;
}

void ConsoleProgress::Start() { started_ = std::chrono::steady_clock::now(); }

void ConsoleProgress::Finish() {
    if (drawn_) {
        err_ << "\r\033[K";
        err_.flush();
    }
    drawn_ = false;
}

}  // namespace kelvorin
