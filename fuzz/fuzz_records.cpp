// Reads arbitrary JSON into every record kind, writes it back and reads that again: no input may crash the
// readers, and what a record writes it must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "core/json_text.h"
#include "core/log.h"
#include "model/device.h"
#include "model/job.h"
#include "model/media.h"
#include "model/printer.h"
#include "model/proxy.h"

namespace {

using namespace quorvane;

// A new record of each kind (the proxy record is made for a target, here an empty one).
template <class Record>
smart_ptr<Record> new_record() {
  if constexpr (std::is_same_v<Record, network::proxy>) {
    return smart_ptr<Record>(new Record(uri()));
  } else {
    return smart_ptr<Record>(new Record());
  }
}

template <class Record>
void round_trip(const Json::Value& in) {
  smart_ptr<Record> first = new_record<Record>();
  first->readJSON(in);
  Json::Value written(Json::objectValue);
  first->writeJSON(written);
  smart_ptr<Record> second = new_record<Record>();
  second->readJSON(written);
  Json::Value again(Json::objectValue);
  second->writeJSON(again);
  if (compact_json(written) != compact_json(again)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_log_level(log_none);
  Json::Value in;
  if (!parse_json(std::string(reinterpret_cast<const char*>(data), size), in)) return 0;
  round_trip<model::printer>(in);
  round_trip<model::media>(in);
  round_trip<model::job>(in);
  round_trip<model::device>(in);
  round_trip<network::proxy>(in);
  return 0;
}
