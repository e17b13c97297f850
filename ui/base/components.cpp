#include "ui/base/components.h"

#include "core/workspace.h"
#include "database/database_sqlite.h"
#include "model/manager.h"
#include "net/jsonrpc_manager.h"
#include "spooler/spooler_impl.h"

namespace quorvane {

void register_console_components() {
  // The instances are function-local statics in their own libraries, so their construction order is not the
  // list order; registering them here, in one place, is.
  workspace_posix::instance().register_component();
  database::manager_impl::instance().register_component();
  spooler_impl::instance().register_component();
  jsonrpc::manager::instance().register_ipc();
  model::manager::instance().register_component();
}

}  // namespace quorvane
