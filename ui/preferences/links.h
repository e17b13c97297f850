// What the preferences dialog needs from the rest of the console.
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "model/proxy.h"
#include "service_link/server.h"

namespace quorvane {

/// The preferences dialog's links to the console. Only `service` and the two flag functions need setting;
/// the others default to the console's own.
struct preferences_links {
  /// Receives "saveAttributes" (results ignored); null sends nothing (the local changes still apply).
  server* service = nullptr;
  /// The main window's file-name flags ("filenameGenerationFlags" as last received or set); 0 when unset.
  std::function<int32_t()> filename_flags;
  /// Stores new file-name flags in the main window.
  std::function<void(int32_t)> set_filename_flags;
  /// The stored proxy record of the console's endpoint (default: `stored_proxy()` of ui/http).
  std::function<smart_ptr<network::proxy>()> stored_proxy;
  /// Asks the system's proxy configuration without blocking; calls back on the event loop with the record
  /// to show, never after `context` is gone (default: `resolve_proxy_async` of ui/http).
  std::function<void(QObject* context, std::function<void(smart_ptr<network::proxy>)> done)> resolve_proxy;
  /// Shows a refusal to the user (default: a warning box titled "Quorvane").
  std::function<void(QWidget* parent, const QString& message)> show_message;
};

/// `links` with every empty member set to the console's own default.
preferences_links with_defaults(preferences_links links);

}  // namespace quorvane
