// Hands arbitrary messages to the console's end of the service link (the stub that turns notifications and
// print requests into records and delegate calls), as if the service had sent them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/log.h"
#include "service_link/server_stub.h"

namespace {

using namespace quorvane;

// Touches every record it is given and answers each print request at once.
struct console final : server::delegate {
  void printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) override { touch(printers); }
  void printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) override { touch(printers); }
  void devicesWereUpdated(std::list<smart_ptr<model::device>>& devices) override { touch(devices); }
  void devicesWereRemoved(std::list<smart_ptr<model::device>>& devices) override { touch(devices); }
  void print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
             print_completion completion) override {
    Json::Value out;
    printer->writeJSON(out);
    job->writeJSON(out);
    completion(0, model::job_state_completed, job->platformID());
  }
  template <class List>
  static void touch(List& records) {
    for (auto& record : records) {
      Json::Value out;
      record->writeJSON(out);
    }
  }
};

// A stub without a socket: what it answers goes nowhere.
class offline_stub final : public server_stub {
 public:
  explicit offline_stub(server::delegate* d) : server_stub(d) { close(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One stub serves every input: each input is one whole frame, so its read buffer is empty again after it
  // (a protocol error empties it too), and it never calls, so no call waits across inputs.
  static console receiver;
  // Held by a reference of its own: a counted object with none would be freed by the first reference a
  // call takes and drops.
  static const smart_ptr<offline_stub>& stub = *[] {
    set_log_level(log_none);
    return new smart_ptr<offline_stub>(new offline_stub(&receiver));
  }();
  // The input is one payload; the netstring target covers the framing around it.
  const std::string framed =
      std::to_string(size) + ":" + std::string(reinterpret_cast<const char*>(data), size) + ",";
  stub->deliver(framed.data(), framed.size());
  return 0;
}
