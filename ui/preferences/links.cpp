#include "ui/preferences/links.h"

#include <QMessageBox>

#include "ui/http/proxy_resolution.h"

namespace quorvane {

preferences_links with_defaults(preferences_links links) {
  if (!links.filename_flags) links.filename_flags = [] { return int32_t{0}; };
  if (!links.set_filename_flags) links.set_filename_flags = [](int32_t) {};
  if (!links.stored_proxy) links.stored_proxy = [] { return stored_proxy(); };
  if (!links.resolve_proxy) {
    links.resolve_proxy = [](QObject* context, std::function<void(smart_ptr<network::proxy>)> done) {
      resolve_proxy_async(context, std::move(done));
    };
  }
  if (!links.show_message) {
    links.show_message = [](QWidget* parent, const QString& message) {
      QMessageBox::warning(parent, QStringLiteral("Quorvane"), message);
    };
  }
  return links;
}

}  // namespace quorvane
