// The connection's read path (framing, parsing and dispatch through `deliver`, which is `on_ready`
// without the system call) against jsoncpp parsing the same payloads alone. Prints, per message size, the
// ratio parse-alone time / framed time; the goal is at least 0.9.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "core/json_text.h"
#include "net/jsonrpc_connection.h"

namespace quorvane::jsonrpc {
namespace {

// About 200 bytes: a print request as the service sends it.
Json::Value small_message() {
  Json::Value message;
  message["jsonrpc"] = "2.0";
  message["id"] = 4711;
  message["method"] = "print";
  message["params"][0]["name"] = "open_on_my_pc";
  message["params"][0]["uuid"] = "0f8c3a52-6d0e-4b8e-9a57-2c1d9e4b7a10";
  message["params"][1]["name"] = "Scan 2024-03-01.pdf";
  message["params"][1]["state"] = 3;
  message["params"][1]["user"] = "guest";
  return message;
}

// About 20 KB: a printer list as "printersWereUpdated" carries it.
Json::Value large_message() {
  Json::Value message;
  message["jsonrpc"] = "2.0";
  message["method"] = "printersWereUpdated";
  static const char* media[] = {"iso_a4_210x297mm", "na_letter_8.5x11in",   "na_legal_8.5x14in",
                                "iso_a5_148x210mm", "jpn_hagaki_100x148mm", "na_index-4x6_4x6in"};
  for (int p = 0; p < 28; ++p) {
    Json::Value printer;
    printer["name"] = "printer_" + std::to_string(p);
    printer["displayName"] = "Office printer " + std::to_string(p);
    printer["location"] = "Second floor, room " + std::to_string(200 + p);
    printer["uuid"] = "6a1d2f30-8c4b-4e7a-9f21-00000000" + std::to_string(1000 + p);
    printer["enabled"] = p % 3 != 0;
    printer["features"] = 0x1f;
    printer["action"] = p % 3;
    printer["folder"] = "/home/user/Documents/Quorvane/printer_" + std::to_string(p);
    for (int m = 0; m < 6; ++m) {
      Json::Value size;
      size["name"] = media[m];
      size["width"] = 21000 + m * 100;
      size["height"] = 29700 - m * 100;
      size["enabled"] = m % 2 == 0;
      printer["media"].append(size);
    }
    printer["users"].append("alice");
    printer["users"].append("bob");
    message["params"].append(printer);
  }
  return message;
}

const Json::Value& message_of(int64_t which) {
  static const Json::Value small = small_message();
  static const Json::Value large = large_message();
  return which == 0 ? small : large;
}

// Counts what reaches it and keeps the last message alive as long as a real handler would.
class counting_delegate final : public connection::delegate {
 public:
  void request_handler(smart_ptr<connection>, Json::Value& message, reply_function) override {
    ++handled;
    benchmark::DoNotOptimize(message);
  }
  int64_t handled = 0;
};

std::unique_ptr<Json::CharReader> reader() {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["collectComments"] = false;
  builder["failIfExtra"] = true;
  return std::unique_ptr<Json::CharReader>(builder.newCharReader());
}

void BM_ParseAlone(benchmark::State& state, int64_t which) {
  const std::string text = compact_json(message_of(which));
  auto r = reader();
  std::string errors;
  for (auto _ : state) {
    Json::Value value;
    if (!r->parse(text.data(), text.data() + text.size(), &value, &errors)) state.SkipWithError("unparsable");
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  state.counters["payload_bytes"] = static_cast<double>(text.size());
}

void BM_FramedThroughProcessInput(benchmark::State& state, int64_t which) {
  const std::string one = frame(message_of(which));
  // A read's worth of frames back to back, fed in receive-sized pieces (the last frame of a piece is split).
  std::string stream;
  while (stream.size() < 256 * 1024) stream += one;
  const int64_t frames = static_cast<int64_t>(stream.size() / one.size());
  constexpr size_t piece = 64 * 1024;
  counting_delegate d;
  smart_ptr<connection> c(new connection);
  c->set_delegate(&d);
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += piece) {
      c->deliver(stream.data() + at, std::min(piece, stream.size() - at));
    }
  }
  if (d.handled != frames * static_cast<int64_t>(state.iterations())) state.SkipWithError("frames were lost");
  state.SetItemsProcessed(state.iterations() * frames);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
  state.counters["payload_bytes"] = static_cast<double>(one.size());
}

BENCHMARK_CAPTURE(BM_ParseAlone, small, 0);
BENCHMARK_CAPTURE(BM_ParseAlone, large, 1);
BENCHMARK_CAPTURE(BM_FramedThroughProcessInput, small, 0);
BENCHMARK_CAPTURE(BM_FramedThroughProcessInput, large, 1);

// Shows every run as usual and keeps each one's frames per second for the ratio.
class ratio_reporter final : public benchmark::ConsoleReporter {
 public:
  ratio_reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    // With --benchmark_repetitions the median stands for the benchmark; otherwise its single run does.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) rates[run.run_name.str()] = items->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace
}  // namespace quorvane::jsonrpc

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quorvane::jsonrpc::ratio_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* size : {"small", "large"}) {
    const auto alone = reporter.rates.find(std::string("BM_ParseAlone/") + size);
    const auto framed = reporter.rates.find(std::string("BM_FramedThroughProcessInput/") + size);
    if (alone == reporter.rates.end() || framed == reporter.rates.end() || alone->second <= 0) continue;
    const double ratio = framed->second / alone->second;
    std::printf("%s messages: ratio parse-alone time / framed time = %.3f (goal >= 0.9): %s\n", size, ratio,
                ratio >= 0.9 ? "met" : "NOT met");
  }
  return 0;
}
