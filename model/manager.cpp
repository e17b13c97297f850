#include "model/manager.h"

#include "model/device.h"
#include "model/job.h"
#include "model/media.h"
#include "model/printer.h"
#include "model/proxy.h"

namespace quorvane::model {

manager& manager::instance() {
  static manager the_manager;
  return the_manager;
}

manager& manager::shared() {
  return initialized(instance());
}

int32_t manager::applicationWillInitialize() {
  if (status_ == 0) return 0;
  // Every table is attempted; a table that could not be created (database not open) keeps the status at 1,
  // so that the next access through the accessor creates the tables again.
  bool created = printer::createTable();
  created = job::createTable() && created;
  created = device::createTable() && created;
  created = network::proxy::createTable() && created;
  if (created && builtin_media_count() != 0) status_ = 0;
  return status_;
}

}  // namespace quorvane::model
