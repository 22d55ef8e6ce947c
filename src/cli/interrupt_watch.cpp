#include "interrupt_watch.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <stdexcept>

#include "main_thread.h"

namespace melvanto::cli {
namespace {

std::atomic<int> gWriteEnd{-1};

// Ctrl-C, and the requests to end that a closed terminal or a session's end send: each one
// finishes the files being written instead of leaving them without their headers.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  const char byte = 'i';
  if (const int fd = gWriteEnd.load(); fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

}  // namespace

TInterruptWatch::TInterruptWatch() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  ReadEnd_.Reset(fds[0]);
  WriteEnd_.Reset(fds[1]);
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  NotifyRead_.Reset(fds[0]);
  NotifyWrite_.Reset(fds[1]);
  gWriteEnd = WriteEnd_.Get();
  Thread_ = std::thread([this] { Watch(); });
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The first signal stops in order; should that hang, the next one ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TInterruptWatch::~TInterruptWatch() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
  gWriteEnd = -1;
  const char quit = 'q';
  (void)!::write(WriteEnd_.Get(), &quit, 1);
  Thread_.join();
}

void TInterruptWatch::Watch() {
  for (;;) {
    char byte = 0;
    const ssize_t n = ::read(ReadEnd_.Get(), &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == 'q') return;
    Interrupted_ = true;
    const char notify = 'i';
    (void)!::write(NotifyWrite_.Get(), &notify, 1);
    WakeMainThreadWaiters();
  }
}

}  // namespace melvanto::cli
