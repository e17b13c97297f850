// How the lists and pages hand a changed printer on to the print service.
#pragma once

#include <functional>

#include "model/printer.h"

namespace quorvane {

/// Sends a changed printer to the service ("updatePrinter"); the main window supplies it.
using update_printer_function = std::function<void(smart_ptr<model::printer>)>;

/// Makes `p`'s `enabled` follow a check box that the user set to `ticked`. Returns true when the value
/// changed (the printer is then dirty and must be sent), false when it already matched.
inline bool apply_enabled_check(model::printer& p, bool ticked) {
  if (p.enabled() == ticked) return false;
  p.setEnabled(ticked);
  return true;
}

}  // namespace quorvane
