// A batch's progress line on the terminal, and its closing line.
#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

// Erases the line the cursor is on: back to its start, then to its end.
constexpr char erase_line[] = "\r\033[K";
constexpr auto redraw_every = std::chrono::milliseconds(250);

struct progress_state {
  std::mutex lock;  // standard error's lines, and what follows
  std::condition_variable stopping;
  bool shown = false, stop = false, drawn = false;
  std::size_t total = 0;
  std::atomic<std::size_t> done{0}, failed{0}, damaged{0};
  clock_type::time_point start;
  std::thread ticker;
};

progress_state &state() {
  static progress_state s;
  return s;
}

// Writes all of `text` to standard error (unbuffered, one call where it can).
void put(const std::string &text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The line as it stands; the lock is held.
void draw(progress_state &s) {
  const std::size_t done = s.done;
  const double elapsed = std::chrono::duration<double>(clock_type::now() - s.start).count();
  std::string line = std::string(erase_line) + std::to_string(done) + "/" + std::to_string(s.total) + " files, " +
                     std::to_string(static_cast<long>(elapsed)) + " s";
  if (done > 0 && done < s.total) {
    const double left = elapsed / static_cast<double>(done) * static_cast<double>(s.total - done);
    line += ", about " + std::to_string(static_cast<long>(left + 0.5)) + " s left";
  }
  // Within the terminal's width as it is now (a resize is followed at the
  // next drawing): a line that wrapped would leave a stale row each time.
  struct winsize size {};
  const std::size_t columns = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  const std::size_t prefix = sizeof erase_line - 1;
  if (columns > 1 && line.size() - prefix > columns - 1) line.resize(prefix + columns - 1);
  put(line);
  s.drawn = true;
}

// Redraws the line until stopped; the first drawing is start_progress's,
// so that even a batch over before this thread runs shows one.
void tick(progress_state &s) {
  std::unique_lock<std::mutex> hold(s.lock);
  while (!s.stopping.wait_for(hold, redraw_every, [&] { return s.stop; })) draw(s);
}

}  // namespace

void start_progress(std::size_t total, bool shown) {
  progress_state &s = state();
  s.total = total;
  s.shown = shown;
  s.start = clock_type::now();
  if (!shown) return;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    draw(s);
  }
  try {
    s.ticker = std::thread(tick, std::ref(s));
  } catch (const std::system_error &) {
    // No thread to redraw it: the first line stays until the closing one.
  }
}

void count_finished(bool failed, bool damaged) {
  progress_state &s = state();
  ++s.done;
  if (failed) ++s.failed;
  if (damaged) ++s.damaged;
}

void stop_progress() {
  progress_state &s = state();
  if (!s.shown) return;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    s.stop = true;
  }
  s.stopping.notify_all();
  if (s.ticker.joinable()) s.ticker.join();
  const std::size_t failed = s.failed, written = s.done - failed;
  const std::size_t damaged = s.damaged;
  std::string closing = std::string(s.drawn ? erase_line : "") + "jpeg2pnm: " + std::to_string(written) + " written";
  if (damaged > 0) closing += " (" + std::to_string(damaged) + " with damage warnings)";
  if (failed > 0) closing += ", " + std::to_string(failed) + " failed";
  put(closing + "\n");
}

void say_line(const std::string &line) {
  progress_state &s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  put((s.drawn ? std::string(erase_line) : std::string()) + line);
  s.drawn = false;
}
