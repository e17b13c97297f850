#include "service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace quorvane::print_service::testing {

child_process::~child_process() {
  kill_now();
}

bool child_process::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                          const std::string& output_file, std::optional<uid_t> as_user) {
  exit_status_ = -1;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    const int out = open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    if (as_user && (setgroups(0, nullptr) != 0 || setgid(*as_user) != 0 || setuid(*as_user) != 0)) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  return true;
}

bool child_process::finished() {
  if (pid_ < 0) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pid_ = -1;
  return true;
}

bool child_process::wait(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!finished()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool child_process::signal(int signal_number) {
  return pid_ > 0 && ::kill(pid_, signal_number) == 0;
}

void child_process::kill_now() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::kill(pid_, SIGCONT);
  int status = 0;
  waitpid(pid_, &status, 0);
  exit_status_ = 128 + SIGKILL;
  pid_ = -1;
}

service_process::service_process(std::string data_folder, std::vector<std::string> environment)
    : data_folder_(std::move(data_folder)), environment_(std::move(environment)) {}

int free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool service_process::start(int port) {
  const std::string port_file = data_folder_ + "/service.port";
  unlink(port_file.c_str());
  std::vector<std::string> argv = {service_binary(), "--port",      std::to_string(port),      "--data",
                                   data_folder_,     "--log-level", std::to_string(log_level_)};
  // An IPP port of 0 is the kernel's choice; the service writes it to DIR/ipp.port before service.port.
  argv.insert(argv.end(), ipp_arguments_.begin(), ipp_arguments_.end());
  argv.insert(argv.end(), extra_arguments_.begin(), extra_arguments_.end());
  if (!process_.spawn(argv, environment_, log_file())) {
    return false;
  }
  // The port file is written once the service listens.
  const auto deadline = std::chrono::steady_clock::now() + event_bound;
  while (std::chrono::steady_clock::now() < deadline) {
    if (process_.finished()) return false;
    const std::string text = read_file(port_file);
    if (!text.empty() && text.back() == '\n') {
      port_ = std::atoi(text.c_str());
      return port_ > 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int service_process::ipp_port() const {
  return std::atoi(read_file(data_folder_ + "/ipp.port").c_str());
}

int service_process::stop() {
  process_.signal(SIGCONT);
  if (process_.signal(SIGTERM) && !process_.wait(event_bound_ms)) process_.kill_now();
  return process_.exit_status();
}

std::string service_binary() {
  return QUORVANE_SERVICE_BINARY;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  return static_cast<bool>(out);
}

std::map<std::string, std::string> cups_test_environment() {
  std::map<std::string, std::string> values;
  const char* file = std::getenv("QV_CUPS_ENV");
  if (!file) return values;
  const std::string text = read_file(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (const size_t eq = line.find('='); eq != std::string::npos)
      values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

std::string one_page_pdf() {
  std::string body = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  const char* objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 420 595] >>",
  };
  for (int i = 0; i < 3; ++i) {
    offsets.push_back(body.size());
    body += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = body.size();
  body += "xref\n0 4\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[32];
    std::snprintf(line, sizeof(line), "%010zu 00000 n \n", offset);
    body += line;
  }
  return body + "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

}  // namespace quorvane::print_service::testing
