#include "print_service/service_options.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <string_view>

namespace quorvane::print_service {
namespace {

// Parses a whole decimal integer within [low, high].
bool parse_int(std::string_view text, int32_t low, int32_t high, int32_t& out) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

}  // namespace

std::string default_data_folder(const environment_reader& env) {
  const std::string state = env("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return state + "/quorvane-service";
  std::string home = env("HOME");
  if (home.empty()) {
    if (const passwd* account = getpwuid(getuid()); account && account->pw_dir) home = account->pw_dir;
  }
  if (home.empty()) return {};
  return home + "/.local/state/quorvane-service";
}

std::string system_data_folder_of(const environment_reader& env) {
  // systemd lists every StateDirectory= entry, separated by colons; the unit has one.
  const std::string listed = env("STATE_DIRECTORY");
  const std::string first = listed.substr(0, listed.find(':'));
  if (!first.empty() && first.front() == '/') return first;
  return system_data_folder;
}

std::string usage_text() {
  return "Usage:\n"
         "  quorvane-service [serve] [--system] [--port N] [--data DIR] [--log-level N] [--keep-jobs N]\n"
         "                   [--keep-days D] [--ipp-port N] [--ipp-listen all|loopback] [--no-dnssd]\n"
         "      Runs the local print service on 127.0.0.1 (port 6631 unless --port is given; 0 lets the\n"
         "      system pick one). The port in use is written to DIR/service.port.\n"
         "      --system       the computer's print service: serves the consoles of every local account,\n"
         "                     each with its own printers and jobs (state in /var/lib/quorvane-service)\n"
         "      --ipp-port N   port of the IPP printers that devices print to (default 8631; 0 lets the\n"
         "                     system pick one); the port in use is written to DIR/ipp.port\n"
         "      --ipp-listen all|loopback  the network interfaces the IPP printers answer on (default all)\n"
         "      --no-dnssd     do not advertise the printers with DNS-SD\n"
         "      --data DIR     state folder (default $XDG_STATE_HOME/quorvane-service,\n"
         "                     else ~/.local/state/quorvane-service; with --system $STATE_DIRECTORY,\n"
         "                     else /var/lib/quorvane-service)\n"
         "      --log-level N  0 none, 1 errors, 2 warnings, 3 information (default), 10 verbose\n"
         "      --keep-jobs N  ended jobs kept as history (default 1000; 0 keeps none)\n"
         "      --keep-days D  days an ended job is kept after its end (default 7)\n"
         "  quorvane-service submit --printer NAME-OR-UUID [--port N] [--user U] [--device-address A]\n"
         "                          [--format MIME] [--copies N] [--name TITLE] [--wait] FILE\n"
         "      Copies FILE into the running service's spool and queues it for the printer.\n"
         "      --wait waits for the outcome, prints \"status S, state T, job id J\" and exits 0 only\n"
         "      when the status is 0.\n"
         "  quorvane-service --help\n";
}

bool parse_command_line(int argc, const char* const* argv, const environment_reader& env, command_line& out,
                        std::string& error) {
  out = command_line{};
  int index = 1;
  if (index < argc && std::string_view(argv[index]) == "submit") {
    out.kind = command_kind::submit;
    ++index;
  } else if (index < argc && std::string_view(argv[index]) == "serve") {
    ++index;
  }
  const bool submit = out.kind == command_kind::submit;

  // Every option but the flags takes the next argument as its value.
  for (; index < argc; ++index) {
    const std::string_view arg = argv[index];
    if (arg == "--help" || arg == "-h") {
      out.kind = command_kind::help;
      return true;
    }
    if (arg == "--wait" && submit) {
      out.submit.wait = true;
      continue;
    }
    if (arg == "--no-dnssd" && !submit) {
      out.serve.dnssd = false;
      continue;
    }
    if (arg == "--system" && !submit) {
      out.serve.machine = true;
      continue;
    }
    if (arg.size() < 2 || arg.substr(0, 2) != "--") {
      if (submit && out.submit.file.empty()) {
        out.submit.file = arg;
        continue;
      }
      error = "Unable to read the command line '" + std::string(arg) + "': unexpected argument";
      return false;
    }
    const bool known = arg == "--port" ||
                       (!submit && (arg == "--data" || arg == "--log-level" || arg == "--keep-jobs" ||
                                    arg == "--keep-days" || arg == "--ipp-port" || arg == "--ipp-listen")) ||
                       (submit && (arg == "--printer" || arg == "--user" || arg == "--device-address" ||
                                   arg == "--format" || arg == "--copies" || arg == "--name"));
    if (!known) {
      error = "Unable to read the command line '" + std::string(arg) + "': unknown option";
      return false;
    }
    if (index + 1 >= argc) {
      error = "Unable to read the command line '" + std::string(arg) + "': the option needs a value";
      return false;
    }
    const std::string_view value = argv[++index];
    bool ok = true;
    if (arg == "--port") {
      ok = submit ? parse_int(value, 1, 65535, out.submit.port) : parse_int(value, 0, 65535, out.serve.port);
    } else if (arg == "--data") {
      ok = !value.empty();
      out.serve.data_folder = value;
    } else if (arg == "--log-level") {
      ok = parse_int(value, 0, 10, out.serve.log_level);
      out.serve.log_level_given = true;
    } else if (arg == "--keep-jobs") {
      ok = parse_int(value, 0, 1000000, out.serve.keep_jobs);
    } else if (arg == "--keep-days") {
      ok = parse_int(value, 0, 3650, out.serve.keep_days);
    } else if (arg == "--ipp-port") {
      ok = parse_int(value, 0, 65535, out.serve.ipp_port);
    } else if (arg == "--ipp-listen") {
      ok = value == "all" || value == "loopback";
      out.serve.ipp_loopback_only = value == "loopback";
    } else if (arg == "--printer") {
      ok = !value.empty();
      out.submit.printer = value;
    } else if (arg == "--user") {
      out.submit.user = value;
    } else if (arg == "--device-address") {
      out.submit.device_address = value;
    } else if (arg == "--format") {
      ok = value.find('/') != std::string_view::npos;
      out.submit.format = value;
    } else if (arg == "--copies") {
      ok = parse_int(value, 1, 999, out.submit.copies);
    } else if (arg == "--name") {
      out.submit.name = value;
    }
    if (!ok) {
      error = "Unable to read the command line '" + std::string(arg) + " " + std::string(value) +
              "': invalid value";
      return false;
    }
  }

  if (submit) {
    if (out.submit.printer.empty()) {
      error = "Unable to read the command line 'submit': --printer is required";
      return false;
    }
    if (out.submit.file.empty()) {
      error = "Unable to read the command line 'submit': the file to print is missing";
      return false;
    }
  } else if (out.serve.data_folder.empty() && out.serve.machine) {
    out.serve.data_folder = system_data_folder_of(env);
  } else if (out.serve.data_folder.empty()) {
    out.serve.data_folder = default_data_folder(env);
    if (out.serve.data_folder.empty()) {
      error = "Unable to find the state folder '~/.local/state': no home folder; pass --data DIR";
      return false;
    }
  }
  return true;
}

}  // namespace quorvane::print_service
