// The console's process-wide components, registered in their start-up order.
#pragma once

namespace quorvane {

/// Registers the console's five components in order: workspace, database manager, spooler, JSON-RPC
/// manager (also in the list of protocol handlers), model manager. The lifecycle walk then meets them in
/// the reverse order. Registering again does nothing.
void register_console_components();

}  // namespace quorvane
