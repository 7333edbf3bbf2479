// What the first press of "Send Email" cannot avoid: opening Qt Network, GMime
// and their libraries in a process that already shows a Qt window, and the
// machine's price for first touching a fresh page of memory, which opening
// the libraries pays hundreds of times.
//
//   bench_library_open LIBRARY...
//
// shows a window as Kestrine does, then opens each LIBRARY in turn (a path or
// a soname) and prints "open LIBRARY MS", then "page_fault_us US": the mean
// time to first touch 2000 fresh anonymous pages.
#include <QApplication>
#include <QTest>
#include <QWidget>

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

double PageFaultMicroseconds() {
  constexpr std::size_t kPages = 2000;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void *mapped = mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED)
    return -1;
  auto *bytes = static_cast<volatile char *>(mapped);
  const auto start = Clock::now();
  for (std::size_t i = 0; i < kPages; ++i)
    bytes[i * page] = 1;
  const auto took = Clock::now() - start;
  munmap(mapped, kPages * page);
  return std::chrono::duration<double, std::micro>(took).count() / kPages;
}

} // namespace

int main(int argc, char *argv[]) {
  QApplication application(argc, argv);
  QWidget window;
  window.resize(420, 300);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) {
    std::fprintf(stderr, "the window was not shown\n");
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    const auto start = Clock::now();
    // Never closed: a library that stays is what the press leaves behind too.
    if (dlopen(argv[i], RTLD_NOW | RTLD_LOCAL) == nullptr) {
      std::fprintf(stderr, "%s\n", dlerror());
      return 1;
    }
    std::printf("open %s %.3f\n", argv[i],
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::printf("page_fault_us %.2f\n", PageFaultMicroseconds());
  return 0;
}
