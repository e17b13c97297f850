// Benchmarks of the console (release build; each prints its ratio against a reference measured in the same
// run, repetitions interleaved, ratio of medians):
//   bench_console updates   applying a "printersWereUpdated" of 1,000 stored printers (records saved, rows
//                           in a list view's model) against saving the same 1,000 records alone (goal <= 1.5)
//   bench_console memory    idle resident memory of the connected console with 50 printers against an empty
//                           Qt Widgets window in a program that links Qt Widgets alone (bench_empty_window),
//                           each in a process of its own (goal <= 1.5); also names the print libraries the
//                           idle console has mapped (none is wanted: printing runs in quorvane-print)
//   bench_console console N   one measured console process (used by "memory")
// "memory" exits with 3 when the goal is not met.
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/object.h"
#include "model/manager.h"
#include "ui/app/quorvane_app.h"
#include "ui/layout/dialog_units.h"
#include "ui/main/main_window.h"
#include "ui/session/default_printers.h"
#include "ui/session/printer_list_controller.h"
#include "ui/test_support/scripted_peer.h"

namespace {

using namespace quorvane;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

void private_world(QTemporaryDir& dir) {
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
    qputenv(name, (dir.path() + "/" + name).toUtf8());
  }
}

std::vector<model::printer_ptr> service_printers(int count) {
  std::vector<model::printer_ptr> printers;
  for (int i = 0; i < count; ++i) {
    model::printer_ptr p = make_new_printer();
    p->setDisplayName("\xEE\x80\x8CPrinter " + std::to_string(count - i));
    printers.push_back(p);
  }
  return printers;
}

int run_updates() {
  QTemporaryDir dir;
  private_world(dir);
  model::manager::shared();
  constexpr int count = 1000;
  const std::vector<model::printer_ptr> sent = service_printers(count);
  for (const model::printer_ptr& p : sent) {
    model::printer_ptr stored = make_counted<model::printer>();
    stored->setUuid(p->uuid());
    stored->save();
  }
  std::vector<double> apply_ms;
  std::vector<double> save_ms;
  for (int round = 0; round < 7; ++round) {
    // What the notification does: the stored records follow and the rows appear in a list view's model.
    {
      printer_list_model rows;
      QListView view;
      view.setModel(&rows);
      printer_list_controller list(rows, nullptr, {}, {});
      std::list<model::printer_ptr> notification;
      for (const model::printer_ptr& p : sent) {
        model::printer_ptr copy = make_counted<model::printer>();
        Json::Value json;
        p->writeJSON(json);
        copy->readJSON(json);
        copy->setLocation(wide_string::from_narrow("round " + std::to_string(round)));
        notification.push_back(copy);
      }
      QElapsedTimer timer;
      timer.start();
      list.printersWereUpdated(notification);
      apply_ms.push_back(timer.nsecsElapsed() / 1e6);
      if (rows.rowCount() != count) return 1;
    }
    // The reference: the same 1,000 stored records updated and saved, nothing else.
    {
      std::vector<model::printer_ptr> stored;
      for (auto rows = database::open_cursor<model::printer>(); rows.current(); rows.next()) {
        stored.push_back(rows.current());
      }
      QElapsedTimer timer;
      timer.start();
      for (size_t i = 0; i < stored.size(); ++i) {
        model::printer_ptr p = make_counted<model::printer>();
        Json::Value json;
        sent[i]->writeJSON(json);
        p->readJSON(json);
        p->setLocation(wide_string::from_narrow("reference " + std::to_string(round)));
        stored[i]->update(*p);
        stored[i]->save();
      }
      save_ms.push_back(timer.nsecsElapsed() / 1e6);
    }
  }
  const double apply = median(apply_ms);
  const double save = median(save_ms);
  std::printf(
      "printersWereUpdated of %d printers: %.1f ms; saving the %d records alone: %.1f ms; ratio %.2f "
      "(goal <= 1.5)\n",
      count, apply, count, save, apply / save);
  return 0;
}

// The libraries of printing (CUPS, poppler, cairo, libjpeg and what they bring) that this process has
// mapped, by file name, each once.
std::string mapped_print_libraries() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  std::string names;
  for (const char* library :
       {"libcups", "libpoppler", "libcairo", "libjpeg", "libgnutls", "libnss3", "libavahi"}) {
    maps.clear();
    maps.seekg(0);
    while (std::getline(maps, line)) {
      if (line.find(std::string("/") + library) != std::string::npos) {
        names += (names.empty() ? "" : ", ") + line.substr(line.rfind('/') + 1);
        break;
      }
    }
  }
  return names.empty() ? "none" : names;
}

// One measured process: the console as `quorvane` runs it (application, main window with the printer list
// and the settings pages, notification-area icon, components) connected to the service played by the parent
// process, idle once `printers` rows are shown. Prints its resident KiB, then the print libraries it maps.
int run_console(int printers) {
  QTemporaryDir dir;
  private_world(dir);
  qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
  long rss = 0;
  std::string libraries;
  {
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setOrganizationName(QStringLiteral("Tessaly Software"));
    QApplication::setQuitOnLastWindowClosed(false);
    set_dialog_font_app_wide();
    CQuorvaneApp app(dir.path());
    if (app.init_instance(QApplication::arguments()) != CQuorvaneApp::start_outcome::running) return 1;
    if (!QTest::qWaitFor([&] { return app.window()->printer_model().rowCount() == printers; }, 20000)) {
      return 1;
    }
    QTest::qWait(1500);
    rss = resident_kib();
    libraries = mapped_print_libraries();
    app.exit();
  }
  std::printf("%ld\n%s\n", rss, libraries.c_str());
  return 0;
}

// Runs `program` with `arguments` and returns the resident KiB it prints first (-1 on failure), the rest of
// its output in `rest`; for the console, this process plays the service (so that the peer's sockets and
// buffers are not counted as the console's).
double measure_process(const QString& program, const QStringList& arguments, int printers,
                       QString* rest = nullptr) {
  QProcess process;
  std::unique_ptr<testing::scripted_peer> peer;
  if (printers > 0) {
    peer = std::make_unique<testing::scripted_peer>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUORVANE_SERVICE_PORT"), QString::number(peer->port()));
    process.setProcessEnvironment(environment);
  }
  process.start(program, arguments);
  if (peer) {
    if (!peer->wait_for_connections(1, 20000) || !peer->answer_session_start()) return -1;
    Json::Value list(Json::arrayValue);
    for (const model::printer_ptr& p : service_printers(printers)) {
      Json::Value json;
      p->writeJSON(json);
      list.append(json);
    }
    peer->send_printers_updated(list);
  }
  if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000)) return -1;
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return -1;
  const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).trimmed().split('\n');
  if (rest) *rest = lines.mid(1).join(' ');
  bool number = false;
  const double kib = lines.value(0).toDouble(&number);
  return number ? kib : -1;
}

int run_memory(const QString& self) {
  constexpr double goal = 1.5;
  std::vector<double> console_kib;
  std::vector<double> empty_kib;
  QString libraries;
  for (int round = 0; round < 5; ++round) {
    console_kib.push_back(measure_process(self, {"console", "50"}, 50, &libraries));
    empty_kib.push_back(measure_process(QStringLiteral(QUORVANE_EMPTY_WINDOW), {}, 0));
    if (console_kib.back() <= 0 || empty_kib.back() <= 0) {
      std::fprintf(stderr, "round %d: a measured process failed\n", round + 1);
      return 1;
    }
    std::printf("round %d: console %.0f KiB, empty window %.0f KiB, ratio %.2f\n", round + 1,
                console_kib.back(), empty_kib.back(), console_kib.back() / empty_kib.back());
  }
  const double console = median(console_kib);
  const double empty = median(empty_kib);
  const double ratio = console / empty;
  std::printf(
      "idle resident memory: console with 50 printers %.0f KiB; empty Qt Widgets window (a program linking "
      "Qt "
      "Widgets alone) %.0f KiB; ratio %.2f (goal <= %.1f): %s\n",
      console, empty, ratio, goal, ratio <= goal ? "met" : "NOT met");
  std::printf("print libraries mapped by the idle console: %s\n", qPrintable(libraries));
  return ratio <= goal ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const QStringList arguments = application.arguments();
  const QString mode = arguments.value(1, "updates");
  if (mode == "updates") return run_updates();
  if (mode == "memory") return run_memory(arguments.value(0));
  if (mode == "console") return run_console(arguments.value(2, "50").toInt());
  std::fprintf(stderr, "usage: bench_console [updates|memory]\n");
  return 2;
}
