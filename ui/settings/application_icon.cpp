#include "ui/settings/application_icon.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

#include "core/os.h"
#include "core/workspace.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

/// `folders` split at colons, empty parts left out.
std::vector<std::string> split_path_list(const std::string& folders) {
  std::vector<std::string> out;
  std::istringstream parts(folders);
  std::string part;
  while (std::getline(parts, part, ':'))
    if (!part.empty()) out.push_back(part);
  return out;
}

/// The file that `program` names: itself when it holds a slash, else the first executable of that name on
/// PATH; canonical when it exists. Empty when it cannot be found.
std::string resolve_program(const std::string& program) {
  std::error_code error;
  if (program.find('/') != std::string::npos) {
    const fs::path canonical = fs::canonical(program, error);
    return error ? program : canonical.string();
  }
  for (const std::string& folder : split_path_list(environment("PATH"))) {
    const fs::path candidate = fs::path(folder) / program;
    if (fs::is_regular_file(candidate, error) && access(candidate.c_str(), X_OK) == 0) {
      const fs::path canonical = fs::canonical(candidate, error);
      return error ? candidate.string() : canonical.string();
    }
  }
  return {};
}

/// The Exec and Icon values of the [Desktop Entry] group of `path`; false for a hidden entry or one
/// without Exec.
bool read_desktop_entry(const fs::path& path, std::string& exec, std::string& icon) {
  std::ifstream file(path);
  std::string line;
  bool in_entry = false;
  bool hidden = false;
  while (std::getline(file, line)) {
    if (!line.empty() && line[0] == '[') {
      in_entry = line == "[Desktop Entry]";
      continue;
    }
    if (!in_entry) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    key.erase(key.find_last_not_of(' ') + 1);
    std::string value = line.substr(equals + 1);
    value.erase(0, value.find_first_not_of(' '));
    if (key == "Exec") exec = value;
    if (key == "Icon") icon = value;
    if (key == "Hidden" && value == "true") hidden = true;
  }
  return !hidden && !exec.empty();
}

}  // namespace

std::vector<std::string> xdg_data_folders() {
  std::vector<std::string> folders;
  const std::string home = local_data_folder();
  if (!home.empty()) folders.push_back(home);
  std::vector<std::string> system = split_path_list(environment("XDG_DATA_DIRS"));
  if (system.empty()) system = {"/usr/local/share", "/usr/share"};
  folders.insert(folders.end(), system.begin(), system.end());
  return folders;
}

std::string exec_program(const std::string& exec) {
  const size_t start = exec.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  if (exec[start] == '"') {
    // A quoted program: backslash escapes the next character.
    std::string program;
    for (size_t i = start + 1; i < exec.size(); ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size()) {
        program += exec[++i];
      } else if (exec[i] == '"') {
        return program;
      } else {
        program += exec[i];
      }
    }
    return program;
  }
  const size_t end = exec.find(' ', start);
  return exec.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string desktop_icon_for_program(const std::string& program,
                                     const std::vector<std::string>& data_folders) {
  const std::string wanted = resolve_program(program);
  if (wanted.empty()) return {};
  for (const std::string& folder : data_folders) {
    const fs::path applications = fs::path(folder) / "applications";
    std::error_code error;
    if (!fs::is_directory(applications, error)) continue;
    // Entries in a stable order, so that the same system always gives the same icon.
    std::vector<fs::path> entries;
    for (fs::recursive_directory_iterator
             it(applications, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error))
      if (it->path().extension() == ".desktop") entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
      std::string exec;
      std::string icon;
      if (!read_desktop_entry(entry, exec, icon)) continue;
      const std::string started = exec_program(exec);
      if (!started.empty() && resolve_program(started) == wanted) return icon;
    }
  }
  return {};
}

}  // namespace quorvane
