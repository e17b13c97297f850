#include "spooler/document_folder.h"

#include <fstream>

#include "core/os.h"
#include "core/workspace.h"

namespace quorvane {

namespace {

constexpr const char* default_folder_name = "Quorvane";

// The value of `key` in a user-dirs.dirs file: a line KEY="$HOME/path" or KEY="/path" (shell quoting with
// backslash escapes), with "$HOME" replaced by `home`. Empty when the file or the key is missing or the value
// is neither form.
std::string user_folder(const std::string& file, const std::string& key, const std::string& home) {
  std::ifstream in(file);
  std::string line, found;
  while (std::getline(in, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, key.size() + 2, key + "=\"") != 0) continue;
    std::string value;
    bool closed = false;
    for (size_t i = start + key.size() + 2; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        value += line[++i];
      } else if (line[i] == '"') {
        closed = true;
        break;
      } else {
        value += line[i];
      }
    }
    if (!closed) continue;
    // The last assignment wins, as when the shell reads the file.
    if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
      found = home + value.substr(5);
    } else if (!value.empty() && value.front() == '/') {
      found = value;
    }
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found;
}

}  // namespace

std::string download_folder() {
  const std::string home = home_folder();
  if (home.empty()) return {};
  std::string config = environment("XDG_CONFIG_HOME");
  if (config.empty() || config.front() != '/') config = home + "/.config";
  std::string folder = user_folder(config + "/user-dirs.dirs", "XDG_DOWNLOAD_DIR", home);
  return folder.empty() ? home + "/Downloads" : folder;
}

std::string default_document_folder() {
  const std::string downloads = download_folder();
  if (downloads.empty()) return {};
  return (downloads == "/" ? "" : downloads) + "/" + default_folder_name;
}

bool keeps_documents(const std::string& folder, int32_t action) {
  return !folder.empty() || (action != model::action_open && action != model::action_print);
}

bool keeps_documents(const model::printer& p) {
  return keeps_documents(p.directory().narrow(), p.action());
}

std::string document_folder_of(const model::printer& p) {
  if (!p.directory().empty()) return p.directory().narrow();
  return keeps_documents(p) ? default_document_folder() : std::string();
}

}  // namespace quorvane
