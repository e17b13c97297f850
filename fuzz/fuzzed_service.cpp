#include "fuzz/fuzzed_service.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/log.h"

namespace quorvane::fuzz {

fuzzed_service::fuzzed_service() {
  set_log_level(log_none);
  // No CUPS scheduler is asked: its queues are not what is fuzzed.
  setenv("CUPS_SERVER", "/nonexistent/quorvane-fuzz/cups.sock", 1);
  // The printers are not advertised (see `restart`); as `run_service` does for that case, the IPP library's
  // avahi client stays off the system bus, where a restart of the avahi daemon would make it register the
  // unnamed printers again and abort.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quorvane-fuzz/no-dnssd", 1);
}

fuzzed_service::~fuzzed_service() {
  stop();
}

void fuzzed_service::stop() {
  service_.reset();
  if (!folder_.empty()) std::filesystem::remove_all(folder_);
  folder_.clear();
}

void fuzzed_service::restart(poll_runloop& loop) {
  stop();
  std::string pattern =
      access("/dev/shm", W_OK) == 0 ? "/dev/shm/quorvane-fuzz-XXXXXX" : "/tmp/quorvane-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  folder_ = pattern;
  print_service::serve_options options;
  options.port = 0;
  options.data_folder = folder_ + "/data";
  options.log_level = log_none;
  options.log_level_given = true;
  // The IPP printers on a port of the kernel's choice, on loopback and unadvertised: several fuzzing
  // processes must not meet, and nothing on the network or the system bus should hear of them.
  options.ipp_port = 0;
  options.ipp_loopback_only = true;
  options.dnssd = false;
  service_ = std::make_unique<print_service::local_service>(loop);
  if (!service_->start(options)) std::abort();
  // The service tells tools its IPP port in this file.
  int port = 0;
  std::FILE* port_file = std::fopen((options.data_folder + "/ipp.port").c_str(), "r");
  if (!port_file || std::fscanf(port_file, "%d", &port) != 1 || port <= 0 || port > 65535) std::abort();
  std::fclose(port_file);
  ipp_port_ = static_cast<uint16_t>(port);
}

}  // namespace quorvane::fuzz
