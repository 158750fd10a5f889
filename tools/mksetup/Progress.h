// The progress line of a long build: files done, megabytes done and the speed,
// rewritten in place on a terminal. It stays quiet when the output is not a
// terminal (a log, a pipe, CI) and for builds that end within a second.
#pragma once

#include "Builder.h"

#include <chrono>
#include <cstdio>

namespace mksetup {

class ProgressLine {
  public:
    // Shows nothing unless `to` is a terminal.
    explicit ProgressLine(FILE* to);
    void Update(const BuildProgress& p);
    // Clears the line if one was shown.
    void Finish();

  private:
    using Clock = std::chrono::steady_clock;
    FILE* to_;
    bool enabled_;
    bool shown_ = false;
    Clock::time_point start_, last_;
};

// True when the stream is an interactive terminal (a console on Windows).
bool IsTerminal(FILE* stream);

} // namespace mksetup
