#include "Progress.h"

#ifdef _WIN32
#include <io.h>
#define QV_ISATTY _isatty
#define QV_FILENO _fileno
#else
#include <unistd.h>
#define QV_ISATTY isatty
#define QV_FILENO fileno
#endif

namespace mksetup {

namespace {

// Nothing is shown before this; then at most this often.
constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kInterval = std::chrono::milliseconds(250);

} // namespace

bool IsTerminal(FILE* stream) {
    return QV_ISATTY(QV_FILENO(stream)) != 0;
}

ProgressLine::ProgressLine(FILE* to)
    : to_(to), enabled_(IsTerminal(to)), start_(Clock::now()), last_(start_) {}

void ProgressLine::Update(const BuildProgress& p) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietStart || (shown_ && now - last_ < kInterval)) return;
    last_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double mb = 1024.0 * 1024.0;
    std::fprintf(to_, "\rmksetup: %u/%u files, %.1f/%.1f MB, %.1f MB/s   ", p.filesDone,
                 p.totalFiles, p.bytesDone / mb, p.totalBytes / mb,
                 seconds > 0 ? p.bytesDone / mb / seconds : 0.0);
    std::fflush(to_);
}

void ProgressLine::Finish() {
    if (!shown_) return;
    // The summary that follows takes the line's place.
    std::fprintf(to_, "\r%79s\r", "");
    std::fflush(to_);
    shown_ = false;
}

} // namespace mksetup
