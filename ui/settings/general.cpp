#include "ui/settings/general.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cerrno>
#include <cstdlib>

#include "spooler/document_folder.h"
#include "ui/session/printer_rows.h"

namespace quorvane {

namespace {

// A text of the page in the user's language.
std::string text(const char* source) {
  return QCoreApplication::translate("quorvane::general_view", source).toStdString();
}

// "Default", for the folder and the application.
std::string default_text() {
  return text(QT_TRANSLATE_NOOP("quorvane::general_view", "Default"));
}

/// The part of `path` after its last slash.
std::string file_name_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The action table: label in view mode, chooser caption.
struct action_row {
  int32_t action;
  const char* label;
  const char* caption;
};

constexpr action_row action_rows[] = {
    {model::action_none, QT_TRANSLATE_NOOP("quorvane::general_view", "Action:"),
     QT_TRANSLATE_NOOP("quorvane::general_view", "Nothing")},
    {model::action_open, QT_TRANSLATE_NOOP("quorvane::general_view", "Open With:"),
     QT_TRANSLATE_NOOP("quorvane::general_view", "Open With")},
    {model::action_print, QT_TRANSLATE_NOOP("quorvane::general_view", "Print:"),
     QT_TRANSLATE_NOOP("quorvane::general_view", "Print")},
};

/// The row of `action`; the first row for unknown values.
const action_row& row_of(int32_t action) {
  for (const action_row& row : action_rows)
    if (row.action == action) return row;
  return action_rows[0];
}

/// The folder as shown: the printer's own, or "Default" with the default folder where the documents go there.
std::string folder_text(const std::string& folder, int32_t action) {
  if (!folder.empty()) return folder;
  if (!keeps_documents(folder, action)) return default_text();
  const std::string folder_used = default_document_folder();
  return folder_used.empty() ? default_text() : default_text() + " (" + folder_used + ")";
}

}  // namespace

action_icon icon_for_action(int32_t action, const std::string& application) {
  if (action != model::action_open) return {action_icon::quorvane, {}};
  if (application.empty()) return {action_icon::pc, {}};
  return {action_icon::application, application};
}

general_view view_of(const model::printer& p) {
  general_view view;
  view.prefix = display_name_prefix(p.displayName());
  view.name = p.displayName().substr(view.prefix.size());
  view.location = p.location().narrow();
  view.folder = folder_text(p.directory().narrow(), p.action());
  const std::string param = p.actionParam().narrow();
  view.action_label = text(row_of(p.action()).label);
  switch (p.action()) {
    case model::action_open:
      view.action_value = param.empty() ? default_text() : param;
      break;
    case model::action_print:
      view.action_value = param;
      break;
    default:
      view.action_value = "-";
      break;
  }
  view.icon = icon_for_action(p.action(), param);
  return view;
}

void general_edit::begin(const model::printer& p) {
  folder_ = p.directory().narrow();
  action_ = p.action();
  application_ = p.actionParam().narrow();
}

void general_edit::choose_default_folder() {
  if (!folder_and_action_locked()) folder_.clear();
}

std::string general_edit::choose_folder(const std::string& path) {
  if (folder_and_action_locked() || path.empty()) return {};
  // Tried as the console will write: a file of this user's made in the folder itself (and removed), since
  // permission bits alone do not say it for root, a read-only disk or a system folder such as /sys.
  struct stat info {};
  const char* refusal = nullptr;
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    refusal =
        QT_TRANSLATE_NOOP("quorvane::general_view",
                          "Unable to use folder '%1': it does not exist or is not a folder. Choose another "
                          "folder.");
  } else {
    std::string probe = path + "/.quorvane-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
      refusal = errno == EROFS
                    ? QT_TRANSLATE_NOOP("quorvane::general_view",
                                        "Unable to use folder '%1': it is on a disk that cannot be "
                                        "written to. Choose another folder.")
                    : QT_TRANSLATE_NOOP("quorvane::general_view",
                                        "Unable to use folder '%1': you may not create files in it. "
                                        "Choose another folder.");
    } else {
      close(fd);
      unlink(probe.c_str());
    }
  }
  if (refusal)
    return QCoreApplication::translate("quorvane::general_view", refusal)
        .arg(QString::fromStdString(path))
        .toStdString();
  folder_ = path;
  return {};
}

void general_edit::choose_action(int32_t action) {
  if (folder_and_action_locked() || (action != model::action_none && action != model::action_open)) return;
  action_ = action;
  application_.clear();
}

void general_edit::choose_default_application() {
  if (application_shown()) application_.clear();
}

void general_edit::choose_application(const std::string& path) {
  if (application_shown() && !path.empty()) application_ = path;
}

std::string general_edit::folder_caption() const {
  return folder_text(folder_, action_);
}

std::string general_edit::action_caption() const {
  return text(row_of(action_).caption);
}

std::string general_edit::application_caption() const {
  return application_.empty() ? default_text() : file_name_of(application_);
}

void general_edit::apply(model::printer& p, const std::string& prefix, const std::string& name_edit,
                         const std::string& location_edit, const std::vector<attribute_entry>& rows) const {
  if (!name_edit.empty()) p.setDisplayName(prefix + name_edit);
  if (!location_edit.empty()) p.setLocation(wide_string::from_narrow(location_edit));
  p.setDirectory(wide_string::from_narrow(folder_));
  p.setAction(action_);
  p.setActionParam(wide_string::from_narrow(application_));
  apply_attribute_rows(p, rows);
}

}  // namespace quorvane
