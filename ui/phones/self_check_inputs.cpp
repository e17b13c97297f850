#include "ui/phones/self_check_inputs.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <QProcess>
#include <QStandardPaths>

#include <fstream>
#include <sstream>

namespace quorvane::phones {
namespace {

std::string whole_file(const char* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

program_run run_program(const QString& program, const QStringList& arguments, int timeout_ms) {
  program_run run;
  QString path = QStandardPaths::findExecutable(program);
  // Firewall tools live in the administrator's folders, which a user's PATH may leave out.
  if (path.isEmpty())
    path = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  if (path.isEmpty()) return run;
  QProcess process;
  process.start(path, arguments);
  if (!process.waitForStarted(timeout_ms)) return run;
  run.started = true;
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished(1000);
    run.exit_status = -1;
  } else {
    run.exit_status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  run.output = process.readAllStandardOutput().toStdString();
  run.errors = process.readAllStandardError().toStdString();
  return run;
}

std::vector<local_address> this_computer_addresses() {
  std::vector<local_address> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return found;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || !(a->ifa_flags & IFF_UP)) continue;
    const int family = a->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes =
        family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr);
    if (!inet_ntop(family, bytes, text, sizeof text)) continue;
    found.push_back({a->ifa_name, text, kind_of_address(text)});
  }
  freeifaddrs(list);
  return found;
}

check_inputs gather_check_inputs(const std::vector<expected_printer>& printers, const ipp_reach& reach) {
  check_inputs in;
  in.printers = printers;
  in.ipp_port = reach.port;
  in.loopback_only = reach.loopback_only;
  in.dnssd = reach.dnssd;
  // -t ends once avahi has the answers that come at once; -k keeps type names as they are.
  in.browse = run_program(QStringLiteral("avahi-browse"),
                          {QStringLiteral("-kprt"), QStringLiteral("_ipp._tcp")}, 10000);
  in.browse_universal =
      run_program(QStringLiteral("avahi-browse"),
                  {QStringLiteral("-kpt"), QStringLiteral("_universal._sub._ipp._tcp")}, 10000);
  in.proc_net_tcp = whole_file("/proc/net/tcp");
  in.proc_net_tcp6 = whole_file("/proc/net/tcp6");
  in.addresses = this_computer_addresses();
  in.firewalld_state = run_program(QStringLiteral("firewall-cmd"), {QStringLiteral("--state")}, 5000);
  if (in.firewalld_state.started && in.firewalld_state.exit_status == 0)
    in.firewalld_zone = run_program(QStringLiteral("firewall-cmd"), {QStringLiteral("--list-all")}, 5000);
  in.ufw_status =
      run_program(QStringLiteral("ufw"), {QStringLiteral("status"), QStringLiteral("verbose")}, 5000);
  in.nft_ruleset = run_program(
      QStringLiteral("nft"), {QStringLiteral("-j"), QStringLiteral("list"), QStringLiteral("ruleset")}, 5000);
  in.iptables_save = run_program(QStringLiteral("iptables-save"), {}, 5000);
  return in;
}

}  // namespace quorvane::phones
