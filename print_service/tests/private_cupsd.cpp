#include "private_cupsd.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quorvane::print_service::testing {
namespace {

bool port_answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool private_cupsd::take_the_only_subscription() {
  http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (!http) {
    reason_ = "cannot connect to the private cupsd";
    return false;
  }
  ipp_t* request = ippNewRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "someone-else");
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events", nullptr, "printer-added");
  ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method", nullptr, "ippget");
  ippDelete(cupsDoRequest(http, request, "/"));
  const bool taken = cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
  if (!taken) reason_ = std::string("cannot take the only subscription: ") + cupsLastErrorString();
  httpClose(http);
  return taken;
}

private_cupsd::private_cupsd(std::string folder, bool refuse_subscriptions)
    : folder_(std::move(folder)), refuse_subscriptions_(refuse_subscriptions) {}

private_cupsd::~private_cupsd() {
  stop();
}

bool private_cupsd::start() {
  const std::string cupsd = find_program("cupsd");
  if (cupsd.empty()) {
    reason_ = "cupsd is not installed (run scripts/setup.sh)";
    return false;
  }
  if (port_ == 0) {
    port_ = free_port();
    for (const char* sub : {"", "/spool", "/cache", "/state", "/tmp", "/log"}) {
      const std::string dir = folder_ + sub;
      if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        reason_ = "cannot make " + dir;
        return false;
      }
    }
    // Open to everyone on loopback: the tests administer it without credentials.
    const std::string policy =
        "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    // Refusing is done as a busy scheduler does: its one subscription is taken (see `start`).
    const std::string limits = refuse_subscriptions_ ? "MaxSubscriptions 1\n" : "";
    const bool written =
        write_file(folder_ + "/cupsd.conf",
                   "LogLevel warn\nListen 127.0.0.1:" + std::to_string(port_) +
                       "\nBrowsing No\nWebInterface No\nDefaultAuthType None\n" + limits +
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n" + policy) &&
        write_file(folder_ + "/cups-files.conf",
                   "ServerRoot " + folder_ + "\nRequestRoot " + folder_ + "/spool\nCacheDir " + folder_ +
                       "/cache\nStateDir " + folder_ + "/state\nTempDir " + folder_ + "/tmp\nErrorLog " +
                       folder_ + "/log/error_log\nAccessLog " + folder_ + "/log/access_log\nPageLog " +
                       folder_ + "/log/page_log\nFileDevice Yes\n" +
                       (server_bin_.empty() ? "" : "ServerBin " + server_bin_ + "\n"));
    if (!written) {
      reason_ = "cannot write the configuration in " + folder_;
      return false;
    }
  }
  if (!process_.spawn({cupsd, "-f", "-c", folder_ + "/cupsd.conf", "-s", folder_ + "/cups-files.conf"}, {},
                      folder_ + "/log/cupsd.out")) {
    reason_ = "cupsd could not be started";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    if (process_.finished()) {
      reason_ = "cupsd ended at once: " + read_file(folder_ + "/log/cupsd.out") +
                read_file(folder_ + "/log/error_log");
      return false;
    }
    if (port_answers(port_)) return !refuse_subscriptions_ || take_the_only_subscription();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reason_ = "cupsd did not answer on port " + std::to_string(port_);
  process_.kill_now();
  return false;
}

void private_cupsd::stop() {
  if (process_.pid() <= 0) return;
  if (process_.signal(SIGTERM) && !process_.wait(10000)) process_.kill_now();
}

int run_cups_tool(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                  const std::string& output_file) {
  std::vector<std::string> command = argv;
  command[0] = find_program(argv[0]);
  child_process tool;
  if (command[0].empty() || !tool.spawn(command, environment, output_file)) return 127;
  if (!tool.wait(30000)) tool.kill_now();
  return tool.exit_status();
}

int private_cupsd::run_tool(const std::vector<std::string>& argv, std::string* output) const {
  const std::string out_file = folder_ + "/log/tool.out";
  unlink(out_file.c_str());
  const int status = run_cups_tool(argv, {"CUPS_SERVER=" + server()}, out_file);
  if (output) *output += read_file(out_file);
  return status;
}

}  // namespace quorvane::print_service::testing
