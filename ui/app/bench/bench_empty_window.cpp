// The reference of `bench_console memory`: an empty Qt Widgets window of the console's size in a program
// that links Qt Widgets alone. Prints its resident memory in KiB once it has been shown for 1.5 s.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QWidget window;
  window.resize(878, 587);
  window.show();
  long rss = -1;
  QTimer::singleShot(1500, [&] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) rss = std::stol(line.substr(6));
    }
    QApplication::quit();
  });
  QApplication::exec();
  std::printf("%ld\n", rss);
  return rss > 0 ? 0 : 1;
}
