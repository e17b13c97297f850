#include "database/object.h"

namespace quorvane::database {

bool object::finish_save(int32_t result) {
  if (result == 0) {
    if (oid_ == 0) oid_ = manager::shared().lastInsertRowID();
    dirty_ = false;
  }
  return !dirty_;
}

void remove(const object& record) {
  if (record.oid() == 0) return;
  manager::shared().exec(std::string("DELETE FROM ") + record.tableName() +
                         " WHERE oid = " + std::to_string(record.oid()) + ";");
}

}  // namespace quorvane::database
