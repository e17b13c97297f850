// The IPP server's life: PAPPL's system started on its listening sockets and its own thread, and stopped.
#include "print_service/ipp/ipp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "model/document_formats.h"
#include "model/values.h"
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_dnssd_txt.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

// How long a stop waits for PAPPL's client threads once their connections are shut down.
constexpr auto client_end_limit = std::chrono::seconds(5);

// The devices PAPPL has open, with their URIs.
std::mutex devices_mutex;
std::multimap<std::string, pappl_device_t*> open_devices;

bool device_open(pappl_device_t* device, const char* uri, const char*) {
  std::lock_guard<std::mutex> lock(devices_mutex);
  open_devices.emplace(uri ? uri : "", device);
  return true;
}
void device_close(pappl_device_t* device) {
  std::lock_guard<std::mutex> lock(devices_mutex);
  std::erase_if(open_devices, [device](const auto& entry) { return entry.second == device; });
}
ssize_t device_read(pappl_device_t*, void*, size_t) {
  return 0;
}
ssize_t device_write(pappl_device_t*, const void*, size_t bytes) {
  return static_cast<ssize_t>(bytes);
}
pappl_preason_t device_status(pappl_device_t*) {
  return PAPPL_PREASON_NONE;
}

// A socket of `family` listening on the loopback or the any address at `port` (0: the kernel chooses), as
// libcups makes PAPPL's listeners; -1 with errno set on failure.
int listening_socket(int family, bool loopback, int port) {
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  int status = -1;
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    status = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } else {
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    address.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    status = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  if (status != 0 || listen(fd, 128) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// A port the kernel chose, with an IPv4 socket listening on it and, where the system has IPv6, an IPv6
// one on the same port (another port when that one is taken on IPv6). 0 with errno set on failure.
int kernel_chosen_port(bool loopback, std::vector<int>& sockets) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int ipv4 = listening_socket(AF_INET, loopback, 0);
    if (ipv4 < 0) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(ipv4, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close(ipv4);
      return 0;
    }
    const int port = ntohs(address.sin_port);
    const int ipv6 = listening_socket(AF_INET6, loopback, port);
    if (ipv6 < 0 && errno == EADDRINUSE) {
      close(ipv4);
      continue;
    }
    sockets = {ipv4};
    if (ipv6 >= 0) sockets.push_back(ipv6);
    return port;
  }
  errno = EADDRINUSE;
  return 0;
}

}  // namespace

void ipp_detail::close_devices_left_open(const std::string& uri) {
  std::vector<pappl_device_t*> left;
  {
    std::lock_guard<std::mutex> lock(devices_mutex);
    auto [first, last] = open_devices.equal_range(uri);
    for (auto it = first; it != last; ++it) left.push_back(it->second);
    open_devices.erase(first, last);
  }
  for (pappl_device_t* device : left) papplDeviceClose(device);
}

ipp_server::ipp_server(poll_runloop& loop, ipp_job_queue& queue)
    : loop_(loop), queue_(queue), shared_(std::make_shared<shared_state>()) {
  shared_->loop = &loop;
  shared_->queue = &queue;
}

ipp_server::~ipp_server() {
  stop();
}

bool ipp_server::create_listening_system(const ipp_listen_options& options, pappl_loglevel_t level) {
  // PAPPL's own choice for port 0 is the first free port counting up from 8000 + uid % 1000, which another
  // program may take between its test and its bind. The kernel chooses on sockets made here instead, and
  // PAPPL's listeners take them.
  int port = options.port;
  if (port == 0) {
    std::vector<int> sockets;
    port = kernel_chosen_port(options.loopback_only, sockets);
    if (port == 0) {
      QV_LOG(log_error, "Unable to listen for IPP on a port the system chooses: %s", strerror(errno));
      return false;
    }
    set_ipp_listen_sockets(std::move(sockets));
  }
  system_ =
      papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE, "Quorvane", port, "_print,_universal",
                        spool_folder_.c_str(), "-", level, /*auth_service=*/nullptr, /*tls_only=*/false);
  if (!system_) {
    QV_LOG(log_error, "Unable to create the IPP system: %s", strerror(errno));
    set_ipp_listen_sockets({});
    return false;
  }
  // PAPPL listens on IPv4 only when given no name with a fixed port; each family is named.
  const char* ipv4 = options.loopback_only ? "127.0.0.1" : "0.0.0.0";
  const char* ipv6 = options.loopback_only ? "[::1]" : "[::]";
  const bool listening = papplSystemAddListeners(system_, ipv4);
  const int listen_error = errno;
  const bool listening_ipv6 = listening && papplSystemAddListeners(system_, ipv6);
  set_ipp_listen_sockets({});
  if (!listening) {
    QV_LOG(log_error, "Unable to listen for IPP on %s port %d: %s", ipv4, port, strerror(listen_error));
    papplSystemDelete(system_);
    system_ = nullptr;
    return false;
  }
  if (!listening_ipv6) {
    QV_LOG(log_warning, "Unable to listen for IPP on %s: %s; IPv4 only", ipv6, strerror(errno));
  }
  return true;
}

bool ipp_server::start(const ipp_listen_options& options, const std::string& state_folder,
                       int32_t log_level) {
  // Registered before the system exists, the one scheme keeps PAPPL's file, socket and USB devices out.
  static const bool scheme_added = [] {
    papplDeviceAddScheme(device_scheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, nullptr, device_open, device_close,
                         device_read, device_write, device_status, nullptr);
    return true;
  }();
  (void)scheme_added;

  // libcups makes the self-signed certificate of ipps at the first TLS connection, in the data folder.
  set_ipp_credentials_folder(state_folder + "/tls");
  spool_folder_ = state_folder + "/ipp-spool";
  if (!make_folders(spool_folder_)) {
    QV_LOG(log_error, "Unable to create IPP spool folder '%s': %s", spool_folder_.c_str(), strerror(errno));
    return false;
  }
  // PAPPL's information level logs every connection; it comes with our verbose level only.
  const pappl_loglevel_t level = log_level <= 0   ? PAPPL_LOGLEVEL_FATAL
                                 : log_level == 1 ? PAPPL_LOGLEVEL_ERROR
                                 : log_level < 10 ? PAPPL_LOGLEVEL_WARN
                                                  : PAPPL_LOGLEVEL_INFO;
  if (!create_listening_system(options, level)) return false;
  // PAPPL 1.3.1 rotates its log once it passes the maximum size and logs while holding its log lock when
  // it does: every thread that logs then waits for ever. The log is our standard error: no rotation.
  papplSystemSetMaxLogSize(system_, 0);
  port_ = papplSystemGetHostPort(system_);
  dnssd_ = options.dnssd;
  if (!dnssd_) papplSystemSetDNSSDName(system_, nullptr);

  static pappl_pr_driver_t drivers[] = {{driver_name, "Quorvane", nullptr, nullptr}};
  papplSystemSetPrinterDrivers(system_, 1, drivers, nullptr, nullptr, &ipp_server::driver_callback, this);
  // JPEG and PNG reach the console as sent: a filter to the driver's format wins over PAPPL's own.
  for (const model::document_format& format : model::document_formats) {
    if (model::is_handed_over(format) && std::string_view(format.mime_type) != "application/pdf")
      papplSystemAddMIMEFilter(system_, format.mime_type, "application/pdf", &ipp_server::filter_image, this);
  }
  papplSystemSetEventCallback(system_, &ipp_server::event_callback, shared_.get());
  // The list of printers; each printer's page is added when the printer is first offered.
  papplSystemAddResourceCallback(system_, "/", "text/html", &ipp_server::web_page, this);
  // PAPPL's run loop sleeps up to 30 s between its timers; a timer every second bounds how late it sees a
  // shutdown.
  papplSystemAddTimerCallback(
      system_, 0, 1, [](pappl_system_t*, void*) { return true; }, nullptr);

  active_server = this;
  prepare_sign_in();
  set_ipp_request_policy(this);
  pappl_system_t* system = system_;
  run_thread_ = std::thread([system] { papplSystemRun(system); });
  for (int i = 0; i < 200 && !papplSystemIsRunning(system_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  QV_LOG(log_information, "IPP printers on %s and %s port %d%s",
         options.loopback_only ? "127.0.0.1" : "0.0.0.0", options.loopback_only ? "[::1]" : "[::]", port_,
         dnssd_ ? "" : ", not advertised (--no-dnssd)");
  return true;
}

void ipp_server::stop() {
  if (!system_) return;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  for (auto& [uuid, t] : withdrawals_) t.join();
  withdrawals_.clear();
  // PAPPL's stop waits up to a minute for its active jobs, among them a job whose device never sent its
  // document: such jobs end now, and connections still open (a document being read, a device idle between
  // requests) are ended, so the stop takes about a second.
  for (const auto& [uuid, offered] : printers_) end_jobs_without_document(offered.printer);
  papplSystemShutdown(system_);
  end_ipp_connections();
  run_thread_.join();
  // PAPPL does not wait for its client threads, which use the system until they end.
  end_ipp_connections();
  const bool clients_ended = wait_for_ipp_clients(client_end_limit);
  set_ipp_request_policy(nullptr);
  set_dnssd_air(nullptr);
  if (clients_ended) {
    papplSystemDelete(system_);
    for (const auto& [uuid, offered] : printers_) close_devices_left_open(device_uri(uuid));
  } else {
    QV_LOG(log_error, "IPP connections did not end; PAPPL's system is left in memory");
  }
  system_ = nullptr;
  printers_.clear();
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->raster_jobs.clear();
    shared_->waiters.clear();
  }
  if (active_server == this) active_server = nullptr;
  QV_LOG(log_information, "IPP printers stopped");
}

}  // namespace quorvane::print_service
