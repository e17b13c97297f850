// Sends each input as HTTP requests carrying IPP messages to the real print service running in this process:
// its PAPPL listener on a loopback port, its request hooks and job handling, with one enabled printer and a
// console that answers every job as printed. An input is one or more requests (see ipp_wire.h), each on a
// connection of its own that is closed for writing once the request is sent, and each answer is read to
// the connection's end, so that an input costs milliseconds and leaves nothing waiting. The mutator reads
// a request attribute by attribute and changes one attribute, tag, value, document or framing at a time.
//
// With QUORVANE_FUZZ_PORTS set to a path, the target writes "<JSON-RPC port> <IPP port> <printer
// resource>" there after each start of the service, so that a watcher outside can probe both ports.
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzzed_service.h"
#include "fuzz/ipp_wire.h"
#include "model/printer.h"
#include "model/values.h"
#include "net/poll_runloop.h"
#include "service_link/server_stub.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

namespace {

using namespace quorvane;
using namespace quorvane::fuzz;
using namespace std::chrono_literals;

// The requests of one input that are sent; the rest is ignored.
constexpr size_t max_requests = 4;

// The name of the attribute that makes Get-Notifications wait, as it is on the wire.
constexpr std::string_view long_poll("\x00\x0bnotify-wait", 13);

// A console that answers every job it is handed as printed, on the loop's next turn.
struct printing_console : server::delegate {
  void printersWereUpdated(std::list<smart_ptr<model::printer>>&) override {}
  void printersWereRemoved(std::list<smart_ptr<model::printer>>&) override {}
  void devicesWereUpdated(std::list<smart_ptr<model::device>>&) override {}
  void devicesWereRemoved(std::list<smart_ptr<model::device>>&) override {}
  void print(smart_ptr<model::printer>&, smart_ptr<model::job>&, print_completion completion) override {
    main_runloop()->post(
        [completion = std::move(completion)] { completion(0, model::job_state_completed, 0); });
  }
};

// One request on a connection of its own: written while the peer takes it, then closed for writing; the
// answer is read until the peer closes.
struct exchange {
  smart_ptr<quorvane::socket> connection;
  std::string request;
  size_t sent = 0;
  std::string answer;
  bool done = false;

  static void on_event(smart_ptr<quorvane::socket> s, int32_t event, void* context) {
    auto* self = static_cast<exchange*>(context);
    if (event == event_writable) {
      const ssize_t n =
          s->send_available(self->request.data() + self->sent, self->request.size() - self->sent);
      if (n > 0) self->sent += static_cast<size_t>(n);
      // A peer that closed before taking everything has answered (or will not).
      if (n < 0 || self->sent == self->request.size()) {
        main_runloop()->want_writable(s.get(), false);
        ::shutdown(s->handle(), SHUT_WR);
      }
      return;
    }
    char buffer[16384];
    const ssize_t n = s->recv(buffer, sizeof(buffer), 0);
    if (n > 0) {
      self->answer.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      self->done = true;
    }
  }
};

// The first value of the integer or enum attribute `name` (tag `tag`) in an IPP answer, or -1.
int64_t answered_integer(const std::string& answer, uint8_t tag, std::string_view name) {
  const std::string attribute = std::string(1, static_cast<char>(tag)) + '\0' +
                                static_cast<char>(name.size()) + std::string(name) + std::string("\0\4", 2);
  const size_t at = answer.find(attribute);
  if (at == std::string::npos || answer.size() - at < attribute.size() + 4) return -1;
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(answer[at + attribute.size() + i]);
  return value;
}

// A service in a data folder of its own (in memory where /dev/shm exists) with its console, made anew
// every `runs_per_service` inputs so that PAPPL's job history, the service's job records and whatever a
// request left waiting cannot pile up and make later inputs slower.
class service_under_test {
 public:
  service_under_test() {
    if (const char* ports = getenv("QUORVANE_FUZZ_PORTS")) ports_file_ = ports;
    set_main_runloop(&loop_);
    restart();
  }

  // Sends each request of `input` in turn; a request after the first gets the job id the last answer
  // carried in place of the placeholder. An answer that does not end within 20 s is a hang.
  void send(std::string_view input) {
    if (++runs_ % runs_per_service == 0) restart();
    uint32_t job_id = 0;
    for (std::string_view part : split_requests(input, max_requests)) {
      std::string request(part);
      if (job_id != 0) {
        const std::string id = ipp_integer(job_id);
        for (size_t at = request.find(job_id_placeholder); at != std::string::npos;
             at = request.find(job_id_placeholder, at + 4)) {
          request.replace(at, 4, id);
        }
      }
      // Get-Notifications with notify-wait true is a long poll: PAPPL holds the connection until an event
      // or 30 s. Renamed, the attribute is one PAPPL ignores, and no input waits.
      for (size_t at = request.find(long_poll); at != std::string::npos; at = request.find(long_poll, at)) {
        request[at + long_poll.size() - 1] = '_';
      }
      exchange e;
      e.request = std::move(request);
      send_on_new_connection(e);
      if (const int64_t id = answered_integer(e.answer, 0x21, "job-id"); id > 0)
        job_id = static_cast<uint32_t>(id);
      highest_job_id_ = std::max(highest_job_id_, job_id);
    }
    // What the requests posted (jobs handed to the console and its answers) runs before the next input.
    while (loop_.run_once(/*timeout_ms=*/0) > 0) {
    }
  }

 private:
  // Sends `e.request` on a new connection to the IPP port and reads the answer to the connection's end.
  void send_on_new_connection(exchange& e) {
    e.connection = smart_ptr<quorvane::socket>(new quorvane::socket());
    if (connect_to_loopback(*e.connection, service_.ipp_port()) != 0) std::abort();
    loop_.watch(e.connection, event_readable, &exchange::on_event, &e);
    loop_.want_writable(e.connection.get(), true);
    if (!loop_.run_until([&] { return e.done; }, 20s)) {
      std::fprintf(stderr, "fuzz_ipp_requests: no end of the answer within 20 s (%zu of %zu bytes sent)\n",
                   e.sent, e.request.size());
      std::abort();
    }
    loop_.unwatch(e.connection);
    e.connection->close();
  }

  // Cancels every job the service may still hold, on one connection, and waits (up to 10 s) until the
  // printer is idle with no job left, and a moment more for PAPPL's job thread to close the device: jobs
  // waiting for a document (a Create-Job whose Send-Document never came) keep PAPPL's shutdown waiting for
  // a minute, and a stop with a job in flight leaks PAPPL's device handle. What a stop does with work in
  // flight is not what this target fuzzes.
  void quiesce() {
    http_request http;
    http.head = ipp_post_head("localhost", printer_resource());
    exchange cancel;
    for (uint32_t id = 1; id <= highest_job_id_; ++id) {
      ipp_message request = ipp_request(/*Cancel-Job*/ 0x0008);
      request.request_id = id;
      request.entries.push_back({0x21, "job-id", ipp_integer(id)});
      http.body = write_ipp(request);
      cancel.request += write_http(http, {});
    }
    highest_job_id_ = 0;
    if (!cancel.request.empty()) send_on_new_connection(cancel);
    ipp_message state = ipp_request(/*Get-Printer-Attributes*/ 0x000b);
    state.entries.push_back({0x44, "requested-attributes", "printer-state"});
    state.entries.push_back({0x44, "", "queued-job-count"});
    http.body = write_ipp(state);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      exchange e;
      e.request = write_http(http, {});
      send_on_new_connection(e);
      if (answered_integer(e.answer, 0x23, "printer-state") == /*idle*/ 3 &&
          answered_integer(e.answer, 0x21, "queued-job-count") == 0) {
        break;
      }
      loop_.run_until([] { return false; }, 20ms);
    }
    loop_.run_until([] { return false; }, 200ms);
  }

  void restart() {
    if (console_) quiesce();
    if (console_) console_->handle_close();
    console_ = nullptr;
    service_.stop();
    // What the old service posted runs before it is gone for good.
    while (loop_.run_once(/*timeout_ms=*/0) > 0) {
    }
    service_.restart(loop_);
    connect_console();
    write_ports();
  }

  // Connects the console, which authenticates, stores the one printer and observes, so that the printer is
  // offered over IPP and every job is handed to it. A step without an answer within 10 s is a hang.
  void connect_console() {
    console_ = smart_ptr<server_stub>(new server_stub(&printing_console_));
    if (connect_to_loopback(*console_, static_cast<uint16_t>(service_.service().port())) != 0) std::abort();
    const auto answered = [this](const char* step, auto send_step) {
      int32_t status = -1000;
      send_step([&status](int32_t s) { status = s; });
      if (!loop_.run_until([&] { return status != -1000; }, 10s) || status != 0) {
        std::fprintf(stderr, "fuzz_ipp_requests: the console's %s got %d\n", step, status);
        std::abort();
      }
    };
    answered("authenticate", [this](auto callback) { console_->authenticate("", callback); });
    answered("updatePrinter", [this](auto callback) { console_->updatePrinter(printer(), callback); });
    answered("observe", [this](auto callback) { console_->observe(true, callback); });
  }

  // The printer the console stores: colour and duplex, three sizes, one of them borderless.
  static smart_ptr<model::printer> printer() {
    Json::Value p(Json::objectValue);
    p["uuid"] = std::string(printer_uuid);
    p["name"] = "fuzz_printer";
    p["displayName"] = "Fuzz Printer";
    p["location"] = "Loopback";
    p["color"] = 9;
    p["duplex"] = 9;
    p["copy"] = 9;
    p["enabled"] = true;
    p["exists"] = true;
    p["state"] = 3;
    const auto media = [](const char* name, int width, int height, int margin) {
      Json::Value m(Json::objectValue);
      m["name"] = name;
      m["displayName"] = name;
      m["width"] = width;
      m["height"] = height;
      m["enabled"] = true;
      Json::Value margins(Json::objectValue);
      margins["name"] = "";
      margins["left"] = margins["top"] = margins["right"] = margins["bottom"] = margin;
      m["margins"].append(margins);
      return m;
    };
    p["media"].append(media("iso_a4_210x297mm", 21000, 29700, 635));
    p["media"].append(media("iso_a5_148x210mm", 14800, 21000, 0));
    p["media"].append(media("na_letter_8.5x11in", 21590, 27940, 635));
    smart_ptr<model::printer> record(new model::printer());
    record->readJSON(p);
    return record;
  }

  // Tells a watcher the service's ports (written whole, then renamed into place).
  void write_ports() {
    if (ports_file_.empty()) return;
    const std::string text = std::to_string(service_.service().port()) + " " +
                             std::to_string(service_.ipp_port()) + " " + printer_resource() + "\n";
    const std::string temporary = ports_file_ + ".new";
    if (std::FILE* f = std::fopen(temporary.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
      std::rename(temporary.c_str(), ports_file_.c_str());
    }
  }

  // A restart (cancelling the jobs left, stopping PAPPL, starting anew) takes 0.15 to 0.55 s, against 20 to
  // 50 inputs a second.
  static constexpr uint64_t runs_per_service = 250;

  poll_runloop loop_;
  fuzzed_service service_;
  std::string ports_file_;
  printing_console printing_console_;
  uint32_t highest_job_id_ = 0;  // the highest job id an answer carried since the service started
  smart_ptr<server_stub> console_;
  uint64_t runs_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static service_under_test* service = new service_under_test;
  service->send(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

// The mutator. A third of the time libFuzzer's own byte mutations change the whole input (truncations,
// wrong lengths, bytes in the HTTP head); otherwise one request is read into its parts, changed at one to
// three places, and written back, mostly with a length that fits.
namespace {

// Value tags, delimiters and out-of-band tags a change of tag picks from (0x7f and 0x50 are an extension
// and an unassigned tag).
constexpr uint8_t interesting_tags[] = {0x01, 0x02, 0x04, 0x05, 0x06, 0x07, 0x0f, 0x10, 0x12,
                                        0x13, 0x15, 0x16, 0x17, 0x21, 0x22, 0x23, 0x30, 0x31,
                                        0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x41, 0x42, 0x44,
                                        0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x50, 0x7f};

// Attribute names a change of name picks from: what the operations devices may send read.
constexpr const char* attribute_names[] = {"attributes-charset",
                                           "attributes-natural-language",
                                           "printer-uri",
                                           "requesting-user-name",
                                           "job-name",
                                           "document-format",
                                           "document-name",
                                           "job-id",
                                           "job-uri",
                                           "copies",
                                           "sides",
                                           "media",
                                           "media-col",
                                           "media-size",
                                           "x-dimension",
                                           "y-dimension",
                                           "media-source",
                                           "media-type",
                                           "media-top-margin",
                                           "media-bottom-margin",
                                           "media-left-margin",
                                           "media-right-margin",
                                           "page-ranges",
                                           "print-color-mode",
                                           "print-quality",
                                           "print-scaling",
                                           "orientation-requested",
                                           "printer-resolution",
                                           "job-hold-until",
                                           "job-k-octets",
                                           "last-document",
                                           "which-jobs",
                                           "requested-attributes",
                                           "limit",
                                           "my-jobs",
                                           "compression",
                                           "ipp-attribute-fidelity",
                                           "job-priority",
                                           "multiple-document-handling",
                                           "finishings",
                                           "output-bin",
                                           "print-content-optimize",
                                           "number-up",
                                           "notify-events",
                                           "notify-pull-method",
                                           "notify-subscription-ids",
                                           "notify-lease-duration",
                                           "notify-recipient-uri",
                                           "document-format-supplied",
                                           "job-impressions",
                                           "job-pages-per-set",
                                           "print-darkness",
                                           "print-speed",
                                           "first-index",
                                           "printer-geo-location"};

// Operations a change of operation picks from.
constexpr uint16_t operations[] = {0x0002, 0x0004, 0x0005, 0x0006, 0x0008, 0x0009, 0x000a, 0x000b,
                                   0x000c, 0x0016, 0x0017, 0x0018, 0x0019, 0x001a, 0x001b, 0x001c,
                                   0x003b, 0x003c, 0x003d, 0x0060, 0x4001, 0x4002, 0x0000, 0xffff};

// Integers a change of an integer value picks from.
const uint32_t interesting_integers[] = {0,          1,          2,          3,          9,
                                         0x7fffffff, 0x80000000, 0xffffffff, 1000000000, 65535};

// Runs of entries an insertion picks from: collections well and badly formed, ranges, resolutions,
// booleans, the job id of the input's last answer.
std::vector<std::vector<ipp_entry>> entry_runs() {
  const auto entry = [](uint8_t tag, const char* name, std::string value) {
    return ipp_entry{tag, name, std::move(value)};
  };
  return {
      {entry(0x34, "media-col", ""), entry(0x4a, "", "media-size"), entry(0x34, "", ""),
       entry(0x4a, "", "x-dimension"), entry(0x21, "", ipp_integer(21000)), entry(0x4a, "", "y-dimension"),
       entry(0x21, "", ipp_integer(29700)), entry(0x37, "", ""), entry(0x4a, "", "media-top-margin"),
       entry(0x21, "", ipp_integer(0)), entry(0x37, "", "")},
      {entry(0x34, "media-col", ""), entry(0x4a, "", "media-size"), entry(0x37, "", "")},
      {entry(0x34, "media-col", ""), entry(0x4a, "", "media-source"), entry(0x44, "", "main"),
       entry(0x4a, "", "media-size-name"), entry(0x44, "", "iso_a5_148x210mm"), entry(0x37, "", "")},
      {entry(0x34, "", "")},
      {entry(0x37, "", "")},
      {entry(0x4a, "", "media-size")},
      {entry(0x33, "page-ranges", ipp_integer(2) + ipp_integer(3)),
       entry(0x33, "", ipp_integer(1) + ipp_integer(1))},
      {entry(0x32, "printer-resolution", ipp_integer(300) + ipp_integer(300) + "\x03")},
      {entry(0x22, "last-document", "\x01")},
      {entry(0x21, "job-id", std::string(job_id_placeholder))},
      {entry(0x44, "compression", "gzip")},
      {entry(0x44, "compression", "deflate")},
      {entry(0x44, "job-hold-until", "no-hold")},
      {entry(0x49, "document-format", "image/pwg-raster")},
      {entry(0x49, "document-format", "image/urf")},
      {entry(0x49, "document-format", "application/octet-stream")},
      {entry(0x21, "copies", ipp_integer(2))},
      {entry(0x23, "print-quality", ipp_integer(5))},
      {entry(0x44, "requested-attributes", "all"), entry(0x44, "", "media-col-database")},
      {entry(0x01, "", "")},
      {entry(0x02, "", "")},
  };
}

// Changes `bytes` with libFuzzer's byte mutations, to at most `max_size` bytes.
void mutate_bytes(std::string& bytes, size_t max_size) {
  const size_t size = bytes.size();
  bytes.resize(std::max(size, max_size));
  bytes.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(bytes.data()), size, std::max(size, max_size)));
}

void mutate_message(ipp_message& message, std::minstd_rand& random) {
  static const std::vector<std::vector<ipp_entry>> runs = entry_runs();
  const auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
  auto& entries = message.entries;
  switch (pick(entries.empty() ? 3 : 12)) {
    case 0: {  // insert a run of entries
      const auto& run = runs[pick(runs.size())];
      entries.insert(entries.begin() + static_cast<ptrdiff_t>(pick(entries.size() + 1)), run.begin(),
                     run.end());
      break;
    }
    case 1:  // the document
      if (!message.document.empty() && pick(4) == 0) {
        message.document.resize(pick(message.document.size()));
      } else {
        mutate_bytes(message.document, message.document.size() + 64);
      }
      break;
    case 2:  // the header
      switch (pick(3)) {
        case 0:
          message.operation = operations[pick(std::size(operations))];
          break;
        case 1:
          message.major = static_cast<uint8_t>(pick(4));
          message.minor = static_cast<uint8_t>(pick(3));
          break;
        default:
          message.request_id = interesting_integers[pick(std::size(interesting_integers))];
      }
      break;
    case 3:  // an entry's tag
      entries[pick(entries.size())].tag = interesting_tags[pick(std::size(interesting_tags))];
      break;
    case 4:  // an entry's name
      entries[pick(entries.size())].name = attribute_names[pick(std::size(attribute_names))];
      break;
    case 5:  // an entry's value, as bytes
    case 6: {
      ipp_entry& e = entries[pick(entries.size())];
      mutate_bytes(e.value, e.value.size() + 16);
      break;
    }
    case 7: {  // an integer value
      ipp_entry& e = entries[pick(entries.size())];
      e.value = ipp_integer(interesting_integers[pick(std::size(interesting_integers))]);
      break;
    }
    case 8:  // drop an entry
      entries.erase(entries.begin() + static_cast<ptrdiff_t>(pick(entries.size())));
      break;
    case 9: {  // repeat an entry, here or elsewhere, up to 100 times
      const ipp_entry e = entries[pick(entries.size())];
      const size_t times = pick(4) == 0 ? 1 + pick(100) : 1;
      entries.insert(entries.begin() + static_cast<ptrdiff_t>(pick(entries.size() + 1)), times, e);
      break;
    }
    case 10: {  // move an entry into another group or collection
      const size_t from = pick(entries.size());
      const ipp_entry e = entries[from];
      entries.erase(entries.begin() + static_cast<ptrdiff_t>(from));
      entries.insert(entries.begin() + static_cast<ptrdiff_t>(pick(entries.size() + 1)), e);
      break;
    }
    default: {  // a long value
      ipp_entry& e = entries[pick(entries.size())];
      e.value.assign(pick(2) == 0 ? 1024 : 32767, e.value.empty() ? 'x' : e.value[0]);
    }
  }
}

// Mostly the framing a device uses; sometimes chunks of odd sizes, a missing last chunk or a length
// that is wrong.
http_framing pick_framing(std::minstd_rand& random) {
  http_framing framing;
  switch (random() % 16) {
    case 0:
    case 1:
      framing.chunked = true;
      framing.chunk_sizes = {1 + random() % 64, 1 + random() % 4096};
      break;
    case 2:
      framing.chunked = true;
      framing.chunk_sizes = {1 + random() % 512};
      framing.last_chunk = false;
      break;
    case 3:
      framing.length_error = static_cast<int64_t>(random() % 64) - 32;
      break;
    case 4:
      framing.length_error = int64_t{1} << (random() % 63);
      break;
    default:
      break;
  }
  return framing;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
  std::minstd_rand random(seed);
  if (random() % 3 == 0) return LLVMFuzzerMutate(data, size, max_size);
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> requests = split_requests(input, max_requests);
  const size_t chosen = random() % requests.size();
  http_request http;
  ipp_message message;
  if (!read_http(requests[chosen], http) || !read_ipp(http.body, message)) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  const unsigned changes = 1 + random() % 3;
  for (unsigned i = 0; i < changes; ++i) mutate_message(message, random);
  http.body = write_ipp(message);
  const std::string changed = write_http(http, pick_framing(random));
  std::string output;
  for (size_t i = 0; i < requests.size(); ++i) {
    if (i > 0) output += request_separator;
    output += i == chosen ? std::string_view(changed) : requests[i];
  }
  if (output.size() > max_size) return LLVMFuzzerMutate(data, size, max_size);
  std::memcpy(data, output.data(), output.size());
  return output.size();
}
