#include "ui/session/default_printers.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QStandardPaths>

#include <fstream>
#include <sstream>

#include <json/json.h>

#include "core/log.h"
#include "core/os.h"
#include "model/media.h"

namespace quorvane {
namespace {

bool is_directory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string home_folder() {
  return QDir::homePath().toStdString();
}

std::string documents_folder() {
  const std::string from_environment = environment("XDG_DOCUMENTS_DIR");
  if (!from_environment.empty() && from_environment.front() == '/') return from_environment;
  // Reads ~/.config/user-dirs.dirs (XDG_DOCUMENTS_DIR there) and falls back to ~/Documents.
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return documents.isEmpty() ? home_folder() + "/Documents" : documents.toStdString();
}

// The "path" members of the Dropbox client's ~/.dropbox/info.json: "personal" first, then "business".
std::vector<std::string> dropbox_client_paths() {
  std::ifstream file(home_folder() + "/.dropbox/info.json");
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  const std::string content = text.str();
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(content.data(), content.data() + content.size(), &root, &errors) || !root.isObject()) {
    QV_LOG(log_warning, "Unable to read file '~/.dropbox/info.json': %s", errors.c_str());
    return {};
  }
  std::vector<std::string> paths;
  for (const char* account : {"personal", "business"}) {
    const Json::Value& entry = root[account];
    if (entry.isObject() && entry["path"].isString()) paths.push_back(entry["path"].asString());
  }
  return paths;
}

std::string computer_name() {
  return host_name().narrow();
}

// U+E00C and U+E049: the icon marks in front of the two default printers' names, never shown.
constexpr const char* open_mark = "\xEE\x80\x8C";
constexpr const char* dropbox_mark = "\xEE\x81\x89";

}  // namespace

std::string find_dropbox_folder() {
  const std::string documents = documents_folder();
  std::vector<std::string> candidates = {documents + "/Dropbox", documents + "/My Dropbox"};
  for (std::string& path : dropbox_client_paths()) candidates.push_back(std::move(path));
  candidates.push_back(home_folder() + "/Dropbox");
  for (const std::string& candidate : candidates) {
    if (is_directory(candidate)) return candidate;
  }
  return std::string();
}

std::string dropbox_quorvane_folder() {
  const std::string dropbox = find_dropbox_folder();
  if (dropbox.empty()) return std::string();
  const std::string folder = dropbox + "/Quorvane";
  if (is_directory(folder)) return folder;
  if (::mkdir(folder.c_str(), 0777) != 0) {
    QV_LOG(log_error, "Unable to create folder '%s': %s", folder.c_str(), strerror(errno));
    return std::string();
  }
  return folder;
}

model::printer_ptr new_console_printer() {
  model::printer_ptr p = make_counted<model::printer>();
  p->setUuid(new_uuid());
  p->setLocation(wide_string::from_narrow("Quorvane @ " + computer_name()));
  p->setMake(u"Quorvane");
  p->setModel(u"Virtual Printer");
  p->setFormats(model::default_formats());
  // Each printer gets copies of the default sizes: switching one off must not switch it off elsewhere.
  model::media_list media;
  for (const model::media_ptr& size : model::default_printer_media()) {
    media.push_back(make_counted<model::media>(*size));
  }
  p->setMedia(std::move(media));
  for (model::printer_feature f : {model::printer_feature::color, model::printer_feature::landscape,
                                   model::printer_feature::duplex, model::printer_feature::copy}) {
    p->setFeature(f, 0);
  }
  p->setAutoCreated(false);
  return p;
}

model::printer_ptr make_open_on_my_pc_printer() {
  model::printer_ptr p = new_console_printer();
  p->setName(u"open_on_my_pc");
  p->setDisplayName(std::string(open_mark) + "Open On My PC @ " + computer_name());
  p->setAction(model::action_open);
  p->setFeatureBit(model::printer_feature::color, model::feature_on, true);
  return p;
}

model::printer_ptr make_send_to_dropbox_printer(const std::string& folder) {
  model::printer_ptr p = new_console_printer();
  p->setName(u"send_to_dropbox");
  p->setDisplayName(std::string(dropbox_mark) + "Send To Dropbox @ " + computer_name());
  p->setAction(model::action_none);
  p->setDirectory(wide_string::from_narrow(folder));
  p->setFeatureBit(model::printer_feature::color, model::feature_on, true);
  return p;
}

model::printer_ptr make_new_printer() {
  model::printer_ptr p = new_console_printer();
  p->setName(u"new_printer");
  p->setDisplayName(std::string(open_mark) + "New Printer @ " + computer_name());
  p->setAction(model::action_none);
  return p;
}

int create_default_printers() {
  int stored = 0;
  if (make_open_on_my_pc_printer()->save()) ++stored;
  const std::string folder = dropbox_quorvane_folder();
  if (!folder.empty() && make_send_to_dropbox_printer(folder)->save()) ++stored;
  return stored;
}

}  // namespace quorvane
