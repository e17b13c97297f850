// Feeds arbitrary bytes to a JSON-RPC connection in pieces, as a peer would send them: framing, parsing
// and the dispatch of responses and requests must never crash, leak or hang.
#include <cstddef>
#include <cstdint>

#include "core/log.h"
#include "net/jsonrpc_connection.h"

namespace {

using namespace quorvane;

// Answers every request with a copy of its params, so that replies are written too.
class echo final : public jsonrpc::connection::delegate {
 public:
  void request_handler(smart_ptr<jsonrpc::connection>, Json::Value& message,
                       jsonrpc::reply_function reply) override {
    Json::Value answer(Json::objectValue);
    answer["id"] = message.get("id", Json::Value());
    answer["result"] = message.get("params", Json::Value());
    reply(answer);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    set_log_level(log_none);
    return true;
  }();
  (void)quiet;
  echo receiver;
  // Over a closed socket: no system call per input, and the replies it writes go nowhere.
  quorvane::socket closed(quorvane::socket::invalid_handle);
  smart_ptr<jsonrpc::connection> c(new jsonrpc::connection(closed, nullptr));
  c->set_delegate(&receiver);
  // Two calls wait for responses, so ids in the input can match them.
  Json::Value request(Json::objectValue);
  request["method"] = "m";
  int answered = 0;
  c->call(request, [&answered](const Json::Value&) { ++answered; });
  c->call(request, [&answered](const Json::Value&) { ++answered; });
  // The first byte chooses how the rest is cut into reads, so every split of a stream gets tried.
  const size_t piece = size > 0 ? 1 + data[0] % 64 : 1;
  const auto* bytes = reinterpret_cast<const char*>(data);
  for (size_t offset = size > 0 ? 1 : 0; offset < size; offset += piece) {
    const size_t count = offset + piece <= size ? piece : size - offset;
    if (!c->deliver(bytes + offset, count)) break;
  }
  c->handle_close();
  return 0;
}
