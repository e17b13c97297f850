// The service offers a real CUPS queue (a virtual IPP printer on the machine's cupsd, started by the
// cups-test-env fixture) as a printer of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>

#include "console_peer.h"
#include "service_process.h"

namespace quorvane::print_service::testing {
namespace {

using namespace std::chrono_literals;

std::map<std::string, std::string> cups_environment() {
  std::map<std::string, std::string> values;
  const char* file = std::getenv("QV_CUPS_ENV");
  if (!file) return values;
  const std::string text = read_file(file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (const size_t eq = line.find('='); eq != std::string::npos)
      values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

// The printers a console hears in its first list after observing.
std::vector<smart_ptr<model::printer>> first_list(poll_runloop& loop, int port) {
  console_peer console;
  if (console.connect(port) != 0) return {};
  console.authenticate();
  console.observe(true);
  loop.run_until([&] { return !console.record().updated.empty(); }, 10s);
  return console.record().updated.empty() ? std::vector<smart_ptr<model::printer>>{}
                                          : console.record().updated.front();
}

TEST(CupsQueues, AreOfferedAsPrintersWithAStableUuid) {
  const auto env = cups_environment();
  if (env.count("QV_CUPS_AVAILABLE") == 0) GTEST_SKIP() << "QV_CUPS_ENV names no CUPS test environment";
  if (env.at("QV_CUPS_AVAILABLE") != "1") {
    GTEST_SKIP() << "no CUPS test environment: "
                 << (env.count("QV_CUPS_REASON") ? env.at("QV_CUPS_REASON") : "");
  }
  const std::string queue = env.at("QV_CUPS_QUEUE");

  temporary_folder root;
  poll_runloop loop;
  set_main_runloop(&loop);
  service_process service(root.path() + "/data", {});
  ASSERT_TRUE(service.start()) << read_file(service.log_file());

  smart_ptr<model::printer> offered;
  for (const auto& p : first_list(loop, service.port())) {
    if (p->name().narrow() == queue) offered = p;
  }
  ASSERT_TRUE(offered) << "queue " << queue << " not offered\n" << read_file(service.log_file());
  EXPECT_EQ(offered->action(), 2);
  EXPECT_TRUE(offered->autoCreated());
  EXPECT_TRUE(offered->exists());
  EXPECT_EQ(offered->uuid().size(), 36u);
  EXPECT_FALSE(offered->displayName().empty());
  EXPECT_FALSE(offered->make().empty()) << "make and model come from the queue's driver";
  const auto& formats = offered->formats();
  EXPECT_NE(std::find(formats.begin(), formats.end(), "application/pdf"), formats.end());
  ASSERT_FALSE(offered->media().empty());
  for (const auto& m : offered->media()) {
    EXPECT_NE(m->name().find('_'), std::string::npos) << "not a PWG media name: " << m->name();
    EXPECT_GT(m->width(), 0) << m->name();
  }

  // After a restart the same queue is the same printer.
  EXPECT_EQ(service.stop(), 0);
  ASSERT_TRUE(service.start());
  std::string uuid_again;
  for (const auto& p : first_list(loop, service.port())) {
    if (p->name().narrow() == queue) uuid_again = p->uuid();
  }
  EXPECT_EQ(uuid_again, offered->uuid());
  EXPECT_EQ(service.stop(), 0);
  set_main_runloop(nullptr);
}

}  // namespace
}  // namespace quorvane::print_service::testing
