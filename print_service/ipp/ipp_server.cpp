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
#include <mutex>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "model/values.h"
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

namespace {

// The device scheme of our printers: jobs never reach a device, the console delivers them.
constexpr const char* device_scheme = "x-fwd";
constexpr const char* driver_name = "fwd";

// The seconds after which a device asks for notifications again (none is held waiting for events).
constexpr int notify_get_interval = 5;

// How often the device's thread looks whether a job that the job's thread stores has ended instead.
constexpr auto job_end_poll = std::chrono::milliseconds(50);

// How long a stop waits for PAPPL's client threads once their connections are shut down.
constexpr auto client_end_limit = std::chrono::seconds(5);

// How often a job waiting for the console looks whether the device cancelled it.
constexpr auto cancel_poll = std::chrono::milliseconds(250);

// The server whose callbacks PAPPL calls; PAPPL's callbacks carry no context of ours.
ipp_server* active_server = nullptr;

bool device_open(pappl_device_t*, const char*, const char*) {
  return true;
}
void device_close(pappl_device_t*) {}
ssize_t device_read(pappl_device_t*, void*, size_t) {
  return 0;
}
ssize_t device_write(pappl_device_t*, const void*, size_t bytes) {
  return static_cast<ssize_t>(bytes);
}
pappl_preason_t device_status(pappl_device_t*) {
  return PAPPL_PREASON_NONE;
}

// PAPPL keeps pointers to the media names of a printer's driver data: names live as long as the process.
const char* interned(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> names;
  std::lock_guard<std::mutex> lock(mutex);
  return names.insert(text).first->c_str();
}

int int_member(const Json::Value& object, const char* name, int fallback = 0) {
  const Json::Value& value = object[name];
  return value.isInt() ? value.asInt() : fallback;
}

// The enabled media of a printer record, in their order.
std::vector<Json::Value> enabled_media(const Json::Value& printer) {
  std::vector<Json::Value> media;
  if (!printer["media"].isArray()) return media;
  for (const Json::Value& m : printer["media"]) {
    if (m.isObject() && m["enabled"].isBool() && m["enabled"].asBool() && !string_member(m, "name").empty()) {
      media.push_back(m);
    }
  }
  return media;
}

// What the status of a console's answer means, for the job-state-message the device shows.
const char* status_meaning(int32_t status) {
  switch (status) {
    case 0:
      return "no error";
    case -1:
      return "the printer no longer exists";
    case 10:
      return "no console answered";
    default:
      return "the console could not deliver it";
  }
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

// Why a PDF, JPEG or PNG document cannot be what it says it is; "" when its first and last bytes fit.
std::string document_problem(const std::string& path, const std::string& format) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "the document cannot be read";
  std::string head(16, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff tail_size = std::min<std::streamoff>(size, 1024);
  std::string tail(static_cast<size_t>(tail_size), '\0');
  in.seekg(size - tail_size);
  in.read(tail.data(), tail_size);
  if (detect_format(head) != format) return "the document is not " + format;
  // A document cut short (a client that went away, a damaged file) lacks its end marker.
  if (format == "application/pdf" && tail.find("%%EOF") == std::string::npos)
    return "the PDF document is cut short";
  if (format == "image/jpeg" && tail.find("\xff\xd9") == std::string::npos)
    return "the JPEG image is cut short";
  if (format == "image/png" && tail.find("IEND") == std::string::npos) return "the PNG image is cut short";
  return {};
}

}  // namespace

struct ipp_server::shared_state {
  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::map<job_key, std::string> job_addresses;  // device address of each job
  std::map<job_key, std::shared_ptr<raster_job>> raster_jobs;
  std::map<job_key, std::shared_ptr<waiting_job>>
      waiters;                                 // jobs in the service's queue, until PAPPL ends them
  std::map<std::string, Json::Value> records;  // offered printer records by uuid
  // Jobs whose document the device's thread reads while it answers the device: their job thread waits
  // before it touches the job, so PAPPL cannot end the job and free its file name meanwhile.
  std::set<job_key> answering;
  poll_runloop* loop = nullptr;
  ipp_job_queue* queue = nullptr;
};

struct ipp_server::waiting_job {
  bool queued = false;  // the queue answered (with `id`, or 0 and `error`)
  int64_t id = 0;
  std::string error;
  bool ended = false;
  int32_t status = 0;
  int32_t state = 0;
  int32_t platform_id = 0;
};

struct ipp_server::raster_job {
  std::string path;    // the PDF made of the document
  uint32_t pages = 0;  // pages PAPPL has read
};

ipp_server::ipp_server(poll_runloop& loop, ipp_job_queue& queue)
    : loop_(loop), queue_(queue), shared_(std::make_shared<shared_state>()) {
  shared_->loop = &loop;
  shared_->queue = &queue;
}

ipp_server::~ipp_server() {
  stop();
}

bool ipp_server::is_offered(const Json::Value& printer) {
  // PAPPL names a printer by its uuid as C text and removes a deleted printer from its list by that name: two
  // uuids that differ only after a NUL byte would be one name, and deleting one printer would free the
  // other, still in use here.
  const std::string uuid = string_member(printer, "uuid");
  return printer.isObject() && !uuid.empty() && uuid.find('\0') == std::string::npos &&
         printer["enabled"].isBool() && printer["enabled"].asBool() &&
         (!printer.isMember("exists") || printer["exists"].asBool());
}

std::string ipp_server::service_name(const Json::Value& printer) {
  std::string name = string_member(printer, "displayName");
  // U+E000 to U+F8FF, the private-use characters, take three bytes beginning 0xEE or 0xEF 0x80-0xA3.
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(name[i]); };
  if (name.size() >= 3 && (byte(0) == 0xee || (byte(0) == 0xef && byte(1) <= 0xa3))) name.erase(0, 3);
  const size_t first = name.find_first_not_of(' ');
  name = first == std::string::npos ? std::string() : name.substr(first);
  if (name.empty()) name = string_member(printer, "name");
  if (name.empty()) name = string_member(printer, "uuid");
  return name.substr(0, 63);  // the longest DNS-SD instance name
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
  // PAPPL 1.3.1 rotates its log once it passes the maximum size and logs while holding its log lock when
  // it does: every thread that logs then waits for ever. The log is our standard error: no rotation.
  papplSystemSetMaxLogSize(system_, 0);
  port_ = papplSystemGetHostPort(system_);
  dnssd_ = options.dnssd;
  if (!dnssd_) papplSystemSetDNSSDName(system_, nullptr);

  static pappl_pr_driver_t drivers[] = {{driver_name, "Quorvane", nullptr, nullptr}};
  papplSystemSetPrinterDrivers(system_, 1, drivers, nullptr, nullptr, &ipp_server::driver_callback, this);
  // JPEG and PNG reach the console as sent: a filter to the driver's format wins over PAPPL's own.
  papplSystemAddMIMEFilter(system_, "image/jpeg", "application/pdf", &ipp_server::filter_image, this);
  papplSystemAddMIMEFilter(system_, "image/png", "application/pdf", &ipp_server::filter_image, this);
  papplSystemSetEventCallback(system_, &ipp_server::event_callback, shared_.get());
  // PAPPL's run loop sleeps up to 30 s between its timers; a timer every second bounds how late it sees a
  // shutdown.
  papplSystemAddTimerCallback(
      system_, 0, 1, [](pappl_system_t*, void*) { return true; }, nullptr);

  active_server = this;
  set_ipp_request_policy(this);
  pappl_system_t* system = system_;
  run_thread_ = std::thread([system] { papplSystemRun(system); });
  for (int i = 0; i < 200 && !papplSystemIsRunning(system_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  QV_LOG(log_information, "IPP printers on %s and %s port %d%s", ipv4, ipv6, port_,
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
  if (clients_ended) {
    // PAPPL closes a printer's device when a job ends with no other job active, and not when the other
    // jobs end without running (cancelled at the stop): a device still open is closed before the printer
    // is freed.
    for (const auto& [uuid, offered] : printers_) {
      if (papplPrinterOpenDevice(offered.printer)) papplPrinterCloseDevice(offered.printer);
    }
    papplSystemDelete(system_);
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

void ipp_server::end_jobs_without_document(pappl_printer_t* printer) {
  std::vector<pappl_job_t*> waiting;
  papplPrinterIterateActiveJobs(
      printer,
      [](pappl_job_t* job, void* data) {
        // A job held without a file waits for its Send-Document (or is receiving one: PAPPL then cancels it
        // once the document's read ends, which the connection's end makes quick).
        if (papplJobGetState(job) == IPP_JSTATE_HELD && !papplJobGetFilename(job)) {
          static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job);
        }
      },
      &waiting, 1, 0);
  for (pappl_job_t* job : waiting) {
    QV_LOG(log_information, "IPP job %d ended without its document: the print service stops",
           papplJobGetID(job));
    papplJobSetMessage(job, "The print service stopped before the document arrived.");
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplJobCancel(job);
  }
}

void ipp_server::offer(const std::vector<Json::Value>& printers) {
  if (!system_) return;
  wanted_ = printers;
  std::map<std::string, const Json::Value*> wanted;
  for (const Json::Value& p : wanted_) {
    if (is_offered(p)) wanted[string_member(p, "uuid")] = &p;
  }
  for (auto it = printers_.begin(); it != printers_.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    withdraw(it->first, it->second.printer);
    it = printers_.erase(it);
  }
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->records.clear();
    for (const auto& [uuid, p] : wanted) shared_->records[uuid] = *p;
  }
  for (const auto& [uuid, p] : wanted) {
    // A printer still being withdrawn comes back once its old PAPPL printer is gone.
    if (withdrawing_.count(uuid)) continue;
    auto found = printers_.find(uuid);
    if (found == printers_.end()) {
      if (pappl_printer_t* created = create_printer(*p)) printers_[uuid] = offered_printer{created, *p};
      continue;
    }
    if (found->second.record == *p) continue;
    pappl_printer_t* printer = found->second.printer;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    fill_driver_data(*p, data);
    if (!papplPrinterSetDriverData(printer, &data, nullptr)) {
      QV_LOG(log_warning, "Unable to update IPP printer '%s'", uuid.c_str());
    }
    papplPrinterSetLocation(printer, string_member(*p, "location").c_str());
    // Also refreshes the advertisement's TXT record (colour, duplex).
    papplPrinterSetDNSSDName(printer, dnssd_ ? service_name(*p).c_str() : nullptr);
    found->second.record = *p;
    QV_LOG(log_information, "IPP printer '%s' updated", service_name(*p).c_str());
  }
}

pappl_printer_t* ipp_server::create_printer(const Json::Value& printer) {
  const std::string uuid = string_member(printer, "uuid");
  // A printer keeps its id for the run; ids start from a hash of the uuid so that they rarely move.
  int& id = printer_ids_[uuid];
  if (id == 0) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : uuid) hash = (hash ^ c) * 16777619u;
    id = static_cast<int>(hash % 1000000u) + 1;
    const auto taken = [&](int candidate) {
      return std::any_of(printer_ids_.begin(), printer_ids_.end(),
                         [&](const auto& entry) { return entry.first != uuid && entry.second == candidate; });
    };
    while (taken(id)) id = id % 1000000 + 1;
  }
  const std::string uri = std::string(device_scheme) + "://printer/" + uuid;
  creating_ = &printer;
  // The uuid as PAPPL's printer name gives a resource path and a printer-uuid that follow the printer's
  // own uuid across restarts.
  pappl_printer_t* created = papplPrinterCreate(system_, id, uuid.c_str(), driver_name, "", uri.c_str());
  creating_ = nullptr;
  if (!created) {
    QV_LOG(log_error, "Unable to offer printer '%s' over IPP: %s", uuid.c_str(), strerror(errno));
    return nullptr;
  }
  papplPrinterSetLocation(created, string_member(printer, "location").c_str());
  // A printer created while the system runs is advertised only once a DNS-SD name is set.
  papplPrinterSetDNSSDName(created, dnssd_ ? service_name(printer).c_str() : nullptr);
  QV_LOG(log_information, "IPP printer '%s' offered as '%s'", service_name(printer).c_str(), uuid.c_str());
  return created;
}

void ipp_server::withdraw(const std::string& uuid, pappl_printer_t* printer) {
  QV_LOG(log_information, "IPP printer '%s' withdrawn", uuid.c_str());
  papplPrinterSetDNSSDName(printer, nullptr);
  papplPrinterDisable(printer);
  papplPrinterCancelAllJobs(printer);
  withdrawing_.insert(uuid);
  // papplPrinterDelete frees the printer at once: a job thread still inside one of our callbacks would use
  // freed memory. The printer goes only once no job of it is active, and a little later, when PAPPL has
  // left the job's last step.
  std::shared_ptr<shared_state> shared = shared_;
  poll_runloop* loop = &loop_;
  withdrawals_[uuid] = std::thread([this, shared, loop, uuid, printer] {
    std::unique_lock<std::mutex> lock(shared->mutex);
    bool idle = false;
    while (!shared->stopping) {
      lock.unlock();
      idle = papplPrinterGetNumberOfActiveJobs(printer) == 0 &&
             papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING;
      lock.lock();
      if (idle) {
        if (shared->changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return shared->stopping; }))
          break;
        loop->post([this, shared, uuid, printer] {
          // After `stop` the system and its printers are gone; this object may be too.
          {
            std::lock_guard<std::mutex> guard(shared->mutex);
            if (shared->stopping) return;
          }
          finish_withdrawal(uuid, printer);
        });
        return;
      }
      shared->changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return shared->stopping; });
    }
  });
}

void ipp_server::finish_withdrawal(const std::string& uuid, pappl_printer_t* printer) {
  papplPrinterDelete(printer);
  withdrawing_.erase(uuid);
  // Posting this was the waiting thread's last step.
  if (auto it = withdrawals_.find(uuid); it != withdrawals_.end()) {
    it->second.join();
    withdrawals_.erase(it);
  }
  QV_LOG(log_verbose, "IPP printer '%s' deleted", uuid.c_str());
  const std::vector<Json::Value> wanted = wanted_;
  offer(wanted);
}

bool ipp_server::driver_callback(pappl_system_t*, const char*, const char*, const char*,
                                 pappl_pr_driver_data_t* data, ipp_t**, void* context) {
  auto* self = static_cast<ipp_server*>(context);
  if (!self->creating_) return false;
  fill_driver_data(*self->creating_, *data);
  return true;
}

void ipp_server::fill_driver_data(const Json::Value& printer, pappl_pr_driver_data_t& data) {
  data.printfile_cb = &ipp_server::print_file;
  data.rstartjob_cb = &ipp_server::raster_start_job;
  data.rstartpage_cb = &ipp_server::raster_start_page;
  data.rwriteline_cb = &ipp_server::raster_write_line;
  data.rendpage_cb = &ipp_server::raster_end_page;
  data.rendjob_cb = &ipp_server::raster_end_job;
  data.format = "application/pdf";

  std::string make_and_model = string_member(printer, "make");
  const std::string model = string_member(printer, "model");
  if (!model.empty()) make_and_model += (make_and_model.empty() ? "" : " ") + model;
  if (make_and_model.empty()) make_and_model = "Quorvane";
  std::snprintf(data.make_and_model, sizeof(data.make_and_model), "%s", make_and_model.c_str());

  const bool color = (int_member(printer, "color") & model::feature_on) != 0;
  const bool duplex = (int_member(printer, "duplex") & model::feature_on) != 0;
  data.kind = static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO);
  data.ppm = 10;
  data.ppm_color = color ? 10 : 0;
  data.color_supported =
      color ? static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR |
                                              PAPPL_COLOR_MODE_MONOCHROME)
            : static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_MONOCHROME);
  data.color_default =
      static_cast<pappl_color_mode_t>(color ? PAPPL_COLOR_MODE_AUTO : PAPPL_COLOR_MODE_MONOCHROME);
  // Lines arrive in the client's layout only when both sides use 8 bits or more per colour.
  data.raster_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_SGRAY_8 |
                                                       (color ? PAPPL_PWG_RASTER_TYPE_SRGB_8 : 0));
  data.duplex = duplex ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;
  data.sides_supported =
      duplex ? static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                                          PAPPL_SIDES_TWO_SIDED_SHORT_EDGE)
             : static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED);
  data.sides_default = static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED);
  data.num_resolution = 1;
  data.x_resolution[0] = data.y_resolution[0] = 300;
  data.x_default = data.y_default = 300;
  data.quality_default = IPP_QUALITY_NORMAL;
  data.scaling_default = PAPPL_SCALING_AUTO;
  data.orient_default = IPP_ORIENT_NONE;

  // The enabled media, in their order; the first is the default. PAPPL has one margin pair per printer: the
  // default's margins, and borderless sizes when any size has no margin.
  std::vector<Json::Value> media = enabled_media(printer);
  if (media.empty()) {
    Json::Value a4(Json::objectValue);
    a4["name"] = "iso_a4_210x297mm";
    a4["width"] = 21000;
    a4["height"] = 29700;
    media.push_back(a4);
  }
  data.num_media = 0;
  data.borderless = false;
  for (const Json::Value& m : media) {
    if (data.num_media >= PAPPL_MAX_MEDIA) break;
    data.media[data.num_media++] = interned(string_member(m, "name"));
    const Json::Value& margins = m["margins"];
    if (margins.isArray() && !margins.empty() && int_member(margins[0], "left") == 0 &&
        int_member(margins[0], "top") == 0 && int_member(margins[0], "right") == 0 &&
        int_member(margins[0], "bottom") == 0) {
      data.borderless = true;
    }
  }
  const Json::Value& first = media.front();
  const Json::Value& margins = first["margins"];
  const Json::Value margin =
      margins.isArray() && !margins.empty() ? margins[0] : Json::Value(Json::objectValue);
  const bool has_margins = margin.isMember("left");
  data.left_right = has_margins ? std::max(int_member(margin, "left"), int_member(margin, "right")) : 635;
  data.bottom_top = has_margins ? std::max(int_member(margin, "top"), int_member(margin, "bottom")) : 635;
  if (data.left_right == 0 && data.bottom_top == 0 && media.size() > 1) {
    data.left_right = data.bottom_top = 635;
  }

  pappl_media_col_t col{};
  std::snprintf(col.size_name, sizeof(col.size_name), "%s", string_member(first, "name").c_str());
  std::snprintf(col.source, sizeof(col.source), "%s", "main");
  std::snprintf(col.type, sizeof(col.type), "%s", "stationery");
  col.size_width = int_member(first, "width");
  col.size_length = int_member(first, "height");
  if (const pwg_media_t* pwg = pwgMediaForPWG(col.size_name);
      pwg && (col.size_width <= 0 || col.size_length <= 0)) {
    col.size_width = pwg->width;
    col.size_length = pwg->length;
  }
  col.left_margin = has_margins ? int_member(margin, "left") : data.left_right;
  col.right_margin = has_margins ? int_member(margin, "right") : data.left_right;
  col.top_margin = has_margins ? int_member(margin, "top") : data.bottom_top;
  col.bottom_margin = has_margins ? int_member(margin, "bottom") : data.bottom_top;
  data.num_source = 1;
  data.source[0] = "main";
  data.num_type = 1;
  data.type[0] = "stationery";
  data.media_default = col;
  data.media_ready[0] = col;
}

void ipp_server::event_callback(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job,
                                pappl_event_t event, void* context) {
  // This runs under PAPPL's locks: only the job id (read without a lock) and our own state are touched.
  auto* shared = static_cast<shared_state*>(context);
  if (!job || !(event & (PAPPL_EVENT_JOB_CREATED | PAPPL_EVENT_JOB_COMPLETED))) return;
  const job_key key{printer, papplJobGetID(job)};
  std::shared_ptr<raster_job> finished_raster;
  std::lock_guard<std::mutex> lock(shared->mutex);
  if (event & PAPPL_EVENT_JOB_CREATED) {
    // The job is created on the thread of the connection that sent it.
    shared->job_addresses[key] = current_client_address();
    return;
  }
  shared->job_addresses.erase(key);
  if (auto it = shared->raster_jobs.find(key); it != shared->raster_jobs.end()) {
    finished_raster = std::move(it->second);
    shared->raster_jobs.erase(it);
  }
  auto it = shared->waiters.find(key);
  if (it == shared->waiters.end()) return;
  const std::shared_ptr<waiting_job> waiter = std::move(it->second);
  shared->waiters.erase(it);
  // A queued job that PAPPL ends before the console's answer was cancelled inside PAPPL (by the device,
  // or because its printer was withdrawn): it is cancelled in the queue too, unless a console has it.
  // A stop ends jobs too, but they stay queued.
  if (shared->stopping || !waiter->queued || waiter->id == 0 || waiter->ended) return;
  ipp_job_queue* queue = shared->queue;
  const int64_t id = waiter->id;
  shared->loop->post([queue, id] { queue->cancel_queued_job(id); });
}

Json::Value ipp_server::job_record(pappl_job_t* job, const pappl_pr_options_t& options,
                                   const std::string& format) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const std::string printer_uuid = papplPrinterGetName(printer);
  Json::Value printer_record;
  std::string address;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (auto it = shared_->records.find(printer_uuid); it != shared_->records.end())
      printer_record = it->second;
    if (auto it = shared_->job_addresses.find({printer, papplJobGetID(job)});
        it != shared_->job_addresses.end()) {
      address = it->second;
    }
  }
  Json::Value record(Json::objectValue);
  record["deviceAddress"] = address;
  record["printerID"] = printer_uuid;
  record["platformID"] = 0;
  const char* name = papplJobGetName(job);
  record["name"] = name && *name ? name : "untitled";
  const char* user = papplJobGetUsername(job);
  record["user"] = user && *user ? user : "anonymous";
  record["format"] = format;
  record["printQuality"] =
      options.print_quality ? static_cast<int>(options.print_quality) : static_cast<int>(IPP_QUALITY_NORMAL);
  // The first range of page-ranges as the device sent it (PAPPL's options clamp it to the pages it
  // counted); 0 and 0 print every page.
  int first_page = 0, last_page = 0;
  if (ipp_attribute_t* ranges = papplJobGetAttribute(job, "page-ranges");
      ranges && ippGetValueTag(ranges) == IPP_TAG_RANGE) {
    first_page = ippGetRange(ranges, 0, &last_page);
  }
  record["firstPage"] = first_page;
  record["lastPage"] = last_page;
  const bool color_printer = (int_member(printer_record, "color") & model::feature_on) != 0;
  record["isColor"] =
      color_printer && (options.print_color_mode & (PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_AUTO)) != 0;
  record["orientation"] = options.orientation_requested ? static_cast<int>(options.orientation_requested)
                                                        : static_cast<int>(IPP_ORIENT_PORTRAIT);
  record["duplex"] = options.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? 1
                     : options.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? 2
                                                                         : 0;
  record["copies"] = options.copies > 0 ? options.copies : 1;
  record["fitToPage"] =
      (options.print_scaling & (PAPPL_SCALING_AUTO | PAPPL_SCALING_AUTO_FIT | PAPPL_SCALING_FIT)) != 0;

  // The media as the printer describes it (display name, margins), with the size the job asked for.
  Json::Value media(Json::objectValue);
  for (const Json::Value& m : enabled_media(printer_record)) {
    if (string_member(m, "name") == options.media.size_name) media = m;
  }
  media["name"] = options.media.size_name;
  if (!media.isMember("displayName")) media["displayName"] = options.media.size_name;
  media["width"] = options.media.size_width;
  media["height"] = options.media.size_length;
  if (!media["margins"].isArray()) {
    Json::Value margin(Json::objectValue);
    margin["name"] = "";
    margin["left"] = options.media.left_margin;
    margin["top"] = options.media.top_margin;
    margin["right"] = options.media.right_margin;
    margin["bottom"] = options.media.bottom_margin;
    media["margins"].append(margin);
  }
  media["enabled"] = true;
  record["media"] = media;
  record["timeAtCreation"] = static_cast<Json::Int64>(papplJobGetTimeCreated(job));
  return record;
}

std::shared_ptr<ipp_server::waiting_job> ipp_server::queue_once(pappl_job_t* job,
                                                                const pappl_pr_options_t& options,
                                                                const std::string& file,
                                                                const std::string& format) {
  std::shared_ptr<shared_state> shared = shared_;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const job_key key{printer, papplJobGetID(job)};
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (auto it = shared->waiters.find(key); it != shared->waiters.end()) return it->second;
    if (shared->stopping) return nullptr;
  }
  const std::string printer_uuid = papplPrinterGetName(printer);
  Json::Value record = job_record(job, options, format);
  auto waiter = std::make_shared<waiting_job>();
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    // The other thread may have queued it meanwhile.
    if (auto it = shared->waiters.find(key); it != shared->waiters.end()) return it->second;
    if (shared->stopping) return nullptr;
    shared->waiters[key] = waiter;
  }
  ipp_job_queue* queue = &queue_;
  // The queue lives on the run loop's thread; the end arrives there too and is passed to the waiting threads.
  loop_.post([queue, shared, waiter, printer_uuid, record, file]() mutable {
    job_end_function on_end = [shared, waiter](int32_t status, int32_t state, int32_t platform_id) {
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        waiter->ended = true;
        waiter->status = status;
        waiter->state = state;
        waiter->platform_id = platform_id;
      }
      shared->changed.notify_all();
    };
    std::string error;
    const int64_t id = queue->queue_ipp_job(printer_uuid, std::move(record), file, std::move(on_end), error);
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      waiter->queued = true;
      waiter->id = id;
      waiter->error = error;
    }
    shared->changed.notify_all();
  });
  return waiter;
}

bool ipp_server::hand_off(pappl_job_t* job, const pappl_pr_options_t& options, const std::string& file,
                          const std::string& format) {
  std::shared_ptr<shared_state> shared = shared_;
  const std::shared_ptr<waiting_job> waiter = queue_once(job, options, file, format);
  if (!waiter) {
    papplJobSetMessage(job, "The print service is stopping.");
    return false;
  }
  ipp_job_queue* queue = &queue_;

  // Wait for the queue, then for the end; PAPPL's calls are made without our lock held.
  bool told_waiting = false;
  bool cancel_sent = false;
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    if (waiter->ended || shared->stopping || (waiter->queued && waiter->id == 0)) break;
    const bool queued = waiter->queued;
    const int64_t id = waiter->id;
    lock.unlock();
    if (queued && !told_waiting) {
      papplJobSetMessage(job, "Queued for the console.");
      told_waiting = true;
    }
    if (queued && !cancel_sent && papplJobIsCanceled(job)) {
      // A job that no console has yet ends here, unseen by any console.
      cancel_sent = true;
      loop_.post([queue, id] { queue->cancel_queued_job(id); });
    }
    lock.lock();
    shared->changed.wait_for(lock, cancel_poll);
  }
  const waiting_job outcome = *waiter;
  const bool stopping = shared->stopping;
  lock.unlock();

  if (outcome.ended) {
    if (outcome.state == model::job_state_canceled) {
      papplJobSetMessage(job, "Cancelled.");
      papplJobCancel(job);
      return true;
    }
    // Status 0 is a delivery: done by the console (completed), or handed to a system printer whose own
    // queue now holds the job (its state there, processing say, and its job id there). A job the console
    // could not deliver keeps its status, whatever state came with it.
    if (outcome.status == 0 && outcome.state != model::job_state_aborted) {
      if (outcome.state == model::job_state_completed) {
        papplJobSetMessage(job, "Delivered by the console.");
      } else {
        papplJobSetMessage(job, "Handed to the printer as job %d.", outcome.platform_id);
      }
      return true;
    }
    papplJobSetMessage(job, "Not delivered: status %d (%s).", outcome.status, status_meaning(outcome.status));
    return false;
  }
  if (outcome.queued && outcome.id == 0) {
    papplJobSetMessage(job, "Unable to queue the job: %s.", outcome.error.c_str());
    return false;
  }
  // The service stops: a queued job stays in the queue and goes to a console after the next start.
  papplJobSetMessage(job, stopping && outcome.queued ? "The print service stopped; the job stays queued."
                                                     : "The print service stopped.");
  return false;
}

bool ipp_server::print_file(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  ipp_server* self = active_server;
  if (!self) return false;
  self->wait_while_answering(job);
  const char* file = papplJobGetFilename(job);
  if (!file) return false;
  if (const std::string problem = document_problem(file, "application/pdf"); !problem.empty()) {
    papplJobSetMessage(job, "Unable to print: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return self->hand_off(job, *options, file, "application/pdf");
}

bool ipp_server::filter_image(pappl_job_t* job, pappl_device_t*, void* context) {
  auto* self = static_cast<ipp_server*>(context);
  self->wait_while_answering(job);
  const char* file = papplJobGetFilename(job);
  const char* format = papplJobGetFormat(job);
  if (!file || !format) return false;
  if (const std::string problem = document_problem(file, format); !problem.empty()) {
    papplJobSetMessage(job, "Unable to print: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
  if (!options) return false;
  const bool ok = self->hand_off(job, *options, file, format);
  papplJobDeletePrintOptions(options);
  return ok;
}

bool ipp_server::raster_start_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  ipp_server* self = active_server;
  if (!self) return false;
  auto raster = std::make_shared<raster_job>();
  raster->path = self->spool_folder_ + "/raster-" +
                 std::to_string(papplPrinterGetID(papplJobGetPrinter(job))) + "-" +
                 std::to_string(papplJobGetID(job)) + ".pdf";
  std::lock_guard<std::mutex> lock(self->shared_->mutex);
  self->shared_->raster_jobs[{papplJobGetPrinter(job), papplJobGetID(job)}] = std::move(raster);
  return true;
}

namespace {

// The raster document being read for `job`, or null.
template <typename map_type>
auto find_raster(std::mutex& mutex, map_type& jobs, pappl_job_t* job) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = jobs.find({papplJobGetPrinter(job), papplJobGetID(job)});
  return it == jobs.end() ? typename map_type::mapped_type() : it->second;
}

}  // namespace

bool ipp_server::raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  const auto& header = options->header;
  raster_page_layout layout;
  layout.width = header.cupsWidth;
  layout.height = header.cupsHeight;
  layout.x_dpi = header.HWResolution[0];
  layout.y_dpi = header.HWResolution[1];
  layout.bits_per_pixel = header.cupsBitsPerPixel;
  layout.bits_per_color = header.cupsBitsPerColor;
  layout.bytes_per_line = header.cupsBytesPerLine;
  layout.color_order = header.cupsColorOrder;
  layout.color_space = header.cupsColorSpace;
  layout.colors = header.cupsNumColors;
  if (const std::string problem = raster_layout_problem(layout); !problem.empty()) {
    papplJobSetMessage(job, "Unable to convert the raster document: %s.", problem.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return true;
}

bool ipp_server::raster_write_line(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned,
                                   const unsigned char*) {
  // The PDF is made from the document's own compressed lines when the job ends, not from PAPPL's decoded
  // ones: PAPPL's reading only checks the document.
  return true;
}

bool ipp_server::raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  ipp_server* self = active_server;
  if (!self) return false;
  std::shared_ptr<raster_job> raster = find_raster(self->shared_->mutex, self->shared_->raster_jobs, job);
  if (!raster) return false;
  ++raster->pages;
  return true;
}

void ipp_server::set_raster_abort_message(pappl_job_t* job, const std::string& problem) {
  papplJobSetMessage(job, "Unable to convert the raster document: %s.",
                     problem.empty() ? "a page of it cannot be read" : problem.c_str());
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
}

bool ipp_server::raster_end_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  ipp_server* self = active_server;
  // What PAPPL read of the document, kept by the request hooks as it went by.
  const int copy = take_document_copy();
  std::shared_ptr<raster_job> raster =
      self ? find_raster(self->shared_->mutex, self->shared_->raster_jobs, job) : nullptr;
  if (raster) {
    std::lock_guard<std::mutex> lock(self->shared_->mutex);
    self->shared_->raster_jobs.erase({papplJobGetPrinter(job), papplJobGetID(job)});
  }
  // A page PAPPL could not read whole aborted the job, a document the raster reader stopped before its
  // end (a page header it refused, pages missing) is cut short for PAPPL, and a cancelled job ends as such:
  // none goes to a console.
  const std::string problem = raster_problem();
  if (!raster || papplJobIsCanceled(job) || papplJobGetState(job) == IPP_JSTATE_ABORTED || !problem.empty()) {
    if (copy >= 0) close(copy);
    if (papplJobIsCanceled(job)) return true;
    // A page refused above says why; PAPPL says nothing of a page it could not read.
    const char* message = papplJobGetMessage(job);
    if (!message || !*message) set_raster_abort_message(job, problem);
    return false;
  }
  if (copy < 0) {
    papplJobSetMessage(job, "Unable to convert the raster document: it could not be kept in the spool.");
    return false;
  }
  const std::string folder = self->spool_folder_;
  const raster_conversion converted =
      raster_file_to_pdf(copy, raster->path, raster->pages, [&folder](uint64_t bytes) {
        std::string cause;
        return spool_has_room(folder, bytes, cause);
      });
  close(copy);
  if (!converted.ok) {
    QV_LOG(log_warning, "Unable to convert raster job %d to PDF: %s", papplJobGetID(job),
           converted.error.c_str());
    papplJobSetMessage(job, "Unable to convert the raster document: %s.", converted.error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  // Raster arrives on the client's connection: the device hears the answer to its Print-Job only after this.
  const bool ok = self->hand_off(job, *options, raster->path, "application/pdf");
  unlink(raster->path.c_str());
  return ok;
}

int ipp_server::document_copy(std::string_view head) {
  // Only raster documents are read by PAPPL without being stored: PWG raster, in either byte order, and
  // Apple raster.
  const bool raster =
      head.substr(0, 4) == "RaS2" || head.substr(0, 4) == "2SaR" || head.substr(0, 4) == "UNIR";
  if (!raster) return -1;
  int fd = open(spool_folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = spool_folder_ + "/raster-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
  }
  if (fd < 0) {
    QV_LOG(log_error, "Unable to keep a raster document in '%s': %s", spool_folder_.c_str(), strerror(errno));
  }
  return fd;
}

namespace {

// The formats the printers take (PAPPL lists octet-stream too: such data is typed from its first bytes).
constexpr const char* accepted_formats[] = {
    "application/octet-stream", "application/pdf", "image/jpeg", "image/png",
    "image/pwg-raster",         "image/urf"};

// The name of the operation `op` for the log and the device ("0xffff" for one IPP does not define): a
// device may send any 16-bit number, which ipp_op_t cannot hold, so operations are kept as integers.
std::string operation_name(int op) {
  if (op >= 0 && op <= 0x7fff) return ippOpString(static_cast<ipp_op_t>(op));
  char name[16];
  std::snprintf(name, sizeof(name), "0x%04x", static_cast<unsigned>(op) & 0xffff);
  return name;
}

// What devices may ask: printing, their jobs, the printers' and the system's attributes, notifications.
// Everything else changes the printers or the service, which belong to the console's configuration.
bool is_device_operation(int op) {
  switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_MY_JOBS:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_CUPS_GET_DEFAULT:
    case IPP_OP_CUPS_GET_PRINTERS:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
      return true;
    default:
      return false;
  }
}

}  // namespace

ipp_status_t ipp_server::admit(ipp_t* request, http_t* http, std::string& message,
                               ipp_attribute_t*& unsupported) {
  const int op = ippGetOperation(request);
  if (op == IPP_OP_HOLD_JOB || op == IPP_OP_RELEASE_JOB) {
    // A held job would wait inside PAPPL while the service's queue delivers it.
    message = "Jobs are not held: they go to the console as they arrive.";
    return IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED;
  }
  if (!is_device_operation(op)) {
    QV_LOG(log_warning, "IPP %s from %s refused: the printers belong to the console",
           operation_name(op).c_str(), client_address(http).c_str());
    message =
        "The printers are managed by the console; " + operation_name(op) + " is not taken over the network.";
    return IPP_STATUS_ERROR_FORBIDDEN;
  }
  if (op == IPP_OP_GET_NOTIFICATIONS) {
    // PAPPL holds a Get-Notifications with notify-wait up to 30 s on a condition that nothing wakes when it
    // stops, and deletes the system under it. The notifications are given at once instead, with the
    // interval at which to ask again (as a printer that does not wait answers).
    if (ipp_attribute_t* wait = ippFindAttribute(request, "notify-wait", IPP_TAG_BOOLEAN)) {
      for (int i = 0; i < ippGetCount(wait); ++i) ippSetBoolean(request, &wait, i, 0);
    }
    return IPP_STATUS_OK;
  }
  const bool creates = op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_CREATE_JOB;
  if (ipp_attribute_t* hold = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
      creates && hold &&
      std::strcmp(ippGetString(hold, 0, nullptr) ? ippGetString(hold, 0, nullptr) : "", "no-hold") != 0) {
    unsupported = hold;
    message = "Jobs are not held: they go to the console as they arrive.";
    return IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  }
  if (op == IPP_OP_CANCEL_JOB) wait_for_answer_of(request);
  if (!creates && op != IPP_OP_SEND_DOCUMENT) return IPP_STATUS_OK;
  // PAPPL imports a job's collections without looking at their shape; Send-Document adds its own job
  // attributes to the job unchecked.
  std::string reason;
  if (ipp_attribute_t* unsafe = find_unsafe_job_attribute(request, reason)) {
    QV_LOG(log_warning, "IPP %s from %s refused: attribute '%s': %s", operation_name(op).c_str(),
           client_address(http).c_str(), ippGetName(unsafe), reason.c_str());
    unsupported = unsafe;
    message = std::string("Unable to take the attribute '") + ippGetName(unsafe) + "': " + reason + ".";
    return IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  }
  if (ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_ZERO)) {
    const char* value = ippGetString(format, 0, nullptr);
    const std::string text = value ? value : "";
    if (std::none_of(std::begin(accepted_formats), std::end(accepted_formats),
                     [&](const char* accepted) { return text == accepted; })) {
      unsupported = format;
      message = "Unsupported document-format '" + text +
                "': the printers take PDF, JPEG, PNG, PWG raster and Apple raster (URF).";
      return IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED;
    }
  }
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT) return IPP_STATUS_OK;
  // A size the device declares (job-k-octets, or the request's Content-Length) is checked before a byte
  // of the document is stored.
  uint64_t declared = 0;
  if (ipp_attribute_t* k = ippFindAttribute(request, "job-k-octets", IPP_TAG_INTEGER); k) {
    declared = static_cast<uint64_t>(std::max(ippGetInteger(k, 0), 0)) * 1024;
  }
  if (http) {
    const char* length = httpGetField(http, HTTP_FIELD_CONTENT_LENGTH);
    if (length && *length) declared = std::max<uint64_t>(declared, std::strtoull(length, nullptr, 10));
  }
  if (declared > 0) {
    ipp_status_t status = IPP_STATUS_OK;
    if (!document_room(http, declared, status, message)) {
      if (ipp_attribute_t* k = ippFindAttribute(request, "job-k-octets", IPP_TAG_INTEGER)) unsupported = k;
      return status;
    }
  }
  return IPP_STATUS_OK;
}

bool ipp_server::document_room(http_t* http, uint64_t bytes, ipp_status_t& status, std::string& message) {
  std::string cause;
  if (spool_has_room(spool_folder_, bytes, cause)) return true;
  QV_LOG(log_warning, "IPP document from %s refused: %s", client_address(http).c_str(), cause.c_str());
  status = IPP_STATUS_ERROR_REQUEST_ENTITY;
  message = "The document does not fit into the print service's spool: " + cause + ".";
  return false;
}

void ipp_server::before_response(ipp_t* request, ipp_t* response) {
  const int op = ippGetOperation(request);
  if (op == IPP_OP_GET_NOTIFICATIONS && ippGetStatusCode(response) < IPP_STATUS_ERROR_BAD_REQUEST &&
      !ippFindAttribute(response, "notify-get-interval", IPP_TAG_INTEGER)) {
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-get-interval", notify_get_interval);
    return;
  }
  if ((op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT) ||
      ippGetStatusCode(response) >= IPP_STATUS_ERROR_BAD_REQUEST) {
    return;
  }
  // The job PAPPL accepted: its id and URI are in the response.
  const int job_id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  const char* job_uri = ippGetString(ippFindAttribute(response, "job-uri", IPP_TAG_URI), 0, nullptr);
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (job_id <= 0 || !job_uri ||
      httpSeparateURI(HTTP_URI_CODING_ALL, job_uri, scheme, sizeof(scheme), user, sizeof(user), host,
                      sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return;
  }
  pappl_printer_t* printer = papplSystemFindPrinter(system_, resource, 0, nullptr);
  pappl_job_t* job = printer ? papplPrinterFindJob(printer, job_id) : nullptr;
  if (!job) return;
  // A raster document whose first page header the reader refused ends the job before the raster
  // callbacks run: the reason is given here.
  if (const char* message = papplJobGetMessage(job);
      papplJobGetState(job) == IPP_JSTATE_ABORTED && (!message || !*message) && !raster_problem().empty()) {
    set_raster_abort_message(job, raster_problem());
    return;
  }
  // Raster documents were handed over while they were read; other formats end on the job's thread.
  const char* format = papplJobGetFormat(job);
  const std::string type = format ? format : "";
  if (type != "application/pdf" && type != "image/jpeg" && type != "image/png") return;
  const job_key key{printer, job_id};
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->answering.insert(key);
  }
  // From here the job's thread waits before our callbacks, the only way PAPPL runs a job of these formats:
  // a job that has not started keeps its file while it is stored here. One that has started is the job
  // thread's to store, and its file is not touched here (PAPPL may end the job and free the name any time).
  std::shared_ptr<waiting_job> waiter;
  const ipp_jstate_t state = papplJobGetState(job);
  if (!papplJobIsCanceled(job) && (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_HELD)) {
    const char* file = papplJobGetFilename(job);
    // A damaged document is not queued; the job's thread aborts the job with the reason.
    if (file && document_problem(file, type).empty()) {
      // As the job's thread makes them; the record takes colour only from colour printers.
      if (pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true)) {
        waiter = queue_once(job, *options, file, type);
        papplJobDeletePrintOptions(options);
      }
    }
  }

  // The device hears that its job was accepted once the job is stored.
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (waiter) shared_->changed.wait(lock, [&] { return waiter->queued || shared_->stopping; });
  shared_->answering.erase(key);
  shared_->changed.notify_all();
  if (!waiter && state >= IPP_JSTATE_PROCESSING && state < IPP_JSTATE_CANCELED) {
    // The job's thread stores it, unless the job ends first (a damaged document, a cancel).
    for (;;) {
      if (auto it = shared_->waiters.find(key); it != shared_->waiters.end() && it->second->queued) {
        waiter = it->second;
        break;
      }
      if (shared_->stopping) break;
      lock.unlock();
      const bool ended = papplJobGetState(job) >= IPP_JSTATE_CANCELED;
      lock.lock();
      if (ended) return;
      shared_->changed.wait_for(lock, job_end_poll);
    }
  } else if (!waiter) {
    return;
  }
  if (!waiter || !waiter->queued) {
    set_ipp_response_status(response, IPP_STATUS_ERROR_SERVICE_UNAVAILABLE,
                            "The print service is stopping; send the job again later.");
  } else if (waiter->id == 0) {
    set_ipp_response_status(response, IPP_STATUS_ERROR_INTERNAL,
                            "Unable to queue the job: " + waiter->error + ".");
  }
}

void ipp_server::wait_for_answer_of(ipp_t* request) {
  // The job is named by job-uri, or by printer-uri and job-id.
  const char* uri = ippGetString(ippFindAttribute(request, "job-uri", IPP_TAG_URI), 0, nullptr);
  int job_id = 0;
  if (!uri) {
    uri = ippGetString(ippFindAttribute(request, "printer-uri", IPP_TAG_URI), 0, nullptr);
    job_id = ippGetInteger(ippFindAttribute(request, "job-id", IPP_TAG_INTEGER), 0);
  }
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (!uri || httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                              sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
    return;
  }
  if (job_id == 0) {
    // A job URI ends in /<job id>.
    char* slash = std::strrchr(resource, '/');
    if (!slash || slash == resource) return;
    job_id = std::atoi(slash + 1);
    *slash = '\0';
  }
  pappl_printer_t* printer = papplSystemFindPrinter(system_, resource, 0, nullptr);
  if (!printer || job_id <= 0) return;
  const job_key key{printer, job_id};
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [&] { return shared_->stopping || !shared_->answering.count(key); });
}

void ipp_server::wait_while_answering(pappl_job_t* job) {
  const job_key key{papplJobGetPrinter(job), papplJobGetID(job)};
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [&] { return shared_->stopping || !shared_->answering.count(key); });
}

}  // namespace quorvane::print_service
