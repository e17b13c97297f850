// Test support for the preferences: a stand-in for the print service that records what it is sent, and the
// private folders and empty proxy table each test starts from.
#pragma once

#include <QSettings>

#include <string>
#include <vector>

#include <json/value.h>
#include <json/writer.h>

#include "database/database.h"
#include "model/manager.h"
#include "service_link/server.h"
#include "ui/test_support/console_test_env.h"

namespace quorvane::testing_support {

/// Records every "saveAttributes" object as compact JSON text; every request succeeds at once.
class recording_server final : public server {
 public:
  void authenticate(const std::string&, status_callback done) override { done(0); }
  void updatePrinter(smart_ptr<model::printer>, status_callback done) override { done(0); }
  void removePrinter(smart_ptr<model::printer>, status_callback done) override { done(0); }
  void attributes(attributes_callback done) override {
    Json::Value none;
    done(0, none);
  }
  void saveAttributes(const Json::Value& attributes, status_callback done) override {
    Json::StreamWriterBuilder compact;
    compact["indentation"] = "";
    sent.push_back(Json::writeString(compact, attributes));
    done(0);
  }
  void observe(bool, status_callback done) override { done(0); }

  std::vector<std::string> sent;
};

/// Private folders, an empty proxy table and no stored preferences.
inline void fresh_preferences() {
  const testing::console_test_env env;
  database::manager::shared().exec("DELETE FROM proxy;");
}

/// The number of rows of the proxy table.
inline int stored_proxy_count() {
  smart_ptr<database::statement> rows = database::manager::shared().select("SELECT COUNT(*) FROM proxy;");
  return rows->step() ? rows->columnInt(0) : -1;
}

}  // namespace quorvane::testing_support
