// The copy of a received job into a printer's folder, against `cp` of the same file in the same run.
//
//   bench_spooler_copy [size-in-MiB] [rounds]      (default 200 MiB, 21 rounds)
//
// Each round copies the same source with our copy (exclusive create, in-kernel copy) and with cp, alternating
// which goes first; "ratio" = ours / cp is the median of the rounds' own ratios: the two copies of a round
// run back to back, so a slow moment of the machine (or the disk writing back earlier rounds) tends to hit
// both, and the median of 21 pairs is not moved by a few bad ones (with 5 rounds one run in three missed the
// goal by chance). The medians of each side are printed too. Delivery then flushes the copy to disk before
// it deletes the received file; that step is compared on its own with `sync FILE` of cp's copy.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "bench_common.h"
#include "spooler/spooler_p.h"

namespace fs = std::filesystem;
using quorvane::bench::measure;
using quorvane::bench::median;

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  const fs::path base = fs::temp_directory_path() / ("quorvane-copy-bench-" + std::to_string(getpid()));
  fs::create_directories(base / "folder");
  const std::string master = (base / "master.bin").string();
  {
    // Incompressible content, written once.
    std::vector<unsigned char> block(1 << 20);
    unsigned state = 12345;
    FILE* out = fopen(master.c_str(), "wb");
    for (long m = 0; m < mib; ++m) {
      for (auto& b : block) b = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
      fwrite(block.data(), 1, block.size(), out);
    }
    fclose(out);
  }

  std::vector<double> ours, reference, our_flush, cp_flush;
  for (int round = 0; round < rounds; ++round) {
    const std::string& source = master;
    const std::string cp_target = (base / ("cp-" + std::to_string(round) + ".bin")).string();
    auto run_ours = [&] {
      std::string copy;
      const auto start = std::chrono::steady_clock::now();
      const int32_t error = quorvane::copy_file_exclusive(source, (base / "folder").string(), copy);
      ours.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      const auto flush = std::chrono::steady_clock::now();
      const int32_t flushed = error == 0 ? quorvane::flush_to_disk(copy) : 0;
      our_flush.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - flush).count());
      unlink(copy.c_str());
      if (error != 0 || flushed != 0) {
        std::fprintf(stderr, "copy failed: %d\n", error);
        std::exit(1);
      }
    };
    auto run_cp = [&] {
      const auto cost = measure({"cp", source, cp_target});
      if (!cost.ok) {
        std::fprintf(stderr, "cp failed\n");
        std::exit(1);
      }
      reference.push_back(cost.seconds);
      const auto synced = measure({"sync", cp_target});
      if (!synced.ok) {
        std::fprintf(stderr, "sync failed\n");
        std::exit(1);
      }
      cp_flush.push_back(synced.seconds);
    };
    if (round % 2) {
      run_ours();
      run_cp();
    } else {
      run_cp();
      run_ours();
    }
    fs::remove(cp_target);
    for (const auto& entry : fs::directory_iterator(base / "folder")) fs::remove(entry.path());
  }
  fs::remove_all(base);

  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / reference[i]);
  const double mine = median(ours), cp = median(reference);
  std::printf(
      "copy of %ld MiB: ours %.4f s, cp %.4f s (medians of %d rounds), ratio %.3f (median of the rounds' "
      "ratios, from %.3f to %.3f; goal <= 1.1)\n",
      mib, mine, cp, rounds, median(ratios), *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()));
  const double mine_flushed = mine + median(our_flush), cp_synced = cp + median(cp_flush);
  std::printf(
      "with the flush to disk before the received file is deleted: ours %.4f s, cp + sync %.4f s, "
      "ratio %.3f\n",
      mine_flushed, cp_synced, mine_flushed / cp_synced);
  return 0;
}
