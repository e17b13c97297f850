#include "database/object.h"

#include "core/log.h"

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

namespace {

// Transactions open on the shared connection; only the outermost begins and commits.
int open_transactions = 0;

}  // namespace

transaction::transaction() {
  if (open_transactions++ > 0) return;
  began_ = manager::shared().exec("BEGIN;") == 0;
}

transaction::~transaction() {
  --open_transactions;
  if (!began_) return;
  if (const int32_t result = manager::shared().exec("COMMIT;"); result != 0) {
    QV_LOG(log_error, "Unable to commit transaction: %d", result);
    manager::shared().exec("ROLLBACK;");
  }
}

}  // namespace quorvane::database
