// Saving, loading and finding 1,000 printers with full media lists, and applying a printer update
// notification of 1,000 printers the way the console does (find by uuid, update, save).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/json_text.h"
#include "core/log.h"
#include "database/object.h"
#include "model/json_p.h"
#include "model/manager.h"
#include "model/printer.h"

namespace quorvane::model {
namespace {

constexpr int printer_count = 1000;

std::string uuid_of(int i) {
  char text[40];
  std::snprintf(text, sizeof text, "6f1c2a4e-0000-4000-8000-%012d", i);
  return text;
}

printer_ptr make_printer(int i) {
  printer_ptr p = make_counted<printer>();
  p->setUuid(uuid_of(i));
  p->setName(wide_string::from_narrow("printer_" + std::to_string(i)));
  p->setDisplayName("Printer " + std::to_string(i) + " in O'Brien's office");
  p->setLocation(wide_string::from_narrow("Floor " + std::to_string(i % 7)));
  p->setMake(wide_string::from_narrow("Make"));
  p->setModel(wide_string::from_narrow("Model \xf0\x9f\x96\xa8"));
  p->setFeature(printer_feature::color, feature_offered | feature_on);
  p->setFeature(printer_feature::duplex, feature_offered);
  p->setFormats(default_formats());
  p->setMedia(default_printer_media());
  p->setAcl({"alice", "bob"});
  p->setOwner(wide_string::from_narrow("alice"));
  return p;
}

void reset_table() {
  database::manager::shared().exec("DELETE FROM printer; DELETE FROM sqlite_sequence;");
}

void store_printers() {
  reset_table();
  for (int i = 0; i < printer_count; ++i) make_printer(i)->save();
}

void BM_SavePrinters(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    reset_table();
    std::vector<printer_ptr> printers;
    for (int i = 0; i < printer_count; ++i) printers.push_back(make_printer(i));
    state.ResumeTiming();
    for (const printer_ptr& p : printers) {
      if (!p->save()) state.SkipWithError("save failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * printer_count);
}
BENCHMARK(BM_SavePrinters)->Unit(benchmark::kMillisecond);

void BM_LoadPrintersWithCursor(benchmark::State& state) {
  store_printers();
  for (auto _ : state) {
    int loaded = 0;
    for (database::cursor<printer> c = database::open_cursor<printer>(); c.current(); c.next()) {
      benchmark::DoNotOptimize(c.current()->media().size());
      ++loaded;
    }
    if (loaded != printer_count) state.SkipWithError("wrong number of printers loaded");
  }
  state.SetItemsProcessed(state.iterations() * printer_count);
}
BENCHMARK(BM_LoadPrintersWithCursor)->Unit(benchmark::kMillisecond);

void BM_FindPrintersByUuid(benchmark::State& state) {
  store_printers();
  for (auto _ : state) {
    for (int i = 0; i < printer_count; ++i) {
      printer_ptr found = database::find_by_uuid<printer>(uuid_of(i));
      if (!found) state.SkipWithError("printer not found");
    }
  }
  state.SetItemsProcessed(state.iterations() * printer_count);
}
BENCHMARK(BM_FindPrintersByUuid)->Unit(benchmark::kMillisecond);

// A "printersWereUpdated" notification: parse the list, then for each printer that the database holds,
// update the stored record and save it.
void BM_ApplyPrintersWereUpdated(benchmark::State& state) {
  store_printers();
  Json::Value list(Json::arrayValue);
  for (int i = 0; i < printer_count; ++i) {
    Json::Value entry(Json::objectValue);
    make_printer(i)->writeJSON(entry);
    entry["state"] = 4;
    list.append(entry);
  }
  const std::string message = quorvane::compact_json(list);
  for (auto _ : state) {
    Json::Value params;
    quorvane::parse_json(message, params);
    for (const Json::Value& entry : params) {
      printer_ptr reported = make_counted<printer>();
      reported->readJSON(entry);
      printer_ptr stored = database::find_by_uuid<printer>(reported->uuid());
      if (!stored) {
        state.SkipWithError("printer not found");
        break;
      }
      stored->update(*reported);
      if (!stored->save()) state.SkipWithError("save failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * printer_count);
}
BENCHMARK(BM_ApplyPrintersWereUpdated)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::model

int main(int argc, char** argv) {
  // The database lives in a temporary data folder (on the same disk as the user's would be).
  std::string folder = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  setenv("XDG_DATA_HOME", folder.c_str(), /*overwrite=*/1);
  quorvane::set_log_level(quorvane::log_error);
  if (quorvane::model::manager::shared().status() != 0) return 1;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);
  return 0;
}
