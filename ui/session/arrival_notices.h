// What the console tells the desktop when a document arrives: one notice for each arrival, a burst of
// arrivals merged into one summary, a failed delivery told with its reason. No widgets, no D-Bus: the
// notifier shows what this decides.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "model/job.h"
#include "model/printer.h"

namespace quorvane {

/// One delivered (or failed) document, as a notice tells of it.
struct arrival {
  std::string document;  ///< the job's name
  std::string user;      ///< the sending user
  std::string device;    ///< the device's name, else its address
  std::string printer;   ///< the printer's name as the console shows it
  std::string file;  ///< where the document is kept now; empty when it is not kept (opened, printed, failed)
  std::string reason;  ///< the reason in plain words of a failed delivery; empty on success
};

/// The arrival that delivering `job` on `printer` with the outcome `status` was (the kept file only for a
/// printer that keeps its documents, and only on success).
arrival arrival_of(const model::printer& printer, const model::job& job, int32_t status);

/// One notice: the texts and the actions it offers.
struct notice {
  std::string title;
  std::string body;
  std::string file;  ///< the file "Open" and "Show in Folder" act on; empty: no such actions
  bool failed = false;
  bool replaces_last = false;  ///< shown in the place of the notice shown last (a burst's summary)
};

/// Decides the notice for each arrival. Arrivals less than `burst_gap` after the one before belong to one
/// burst; the first of a burst gets its own notice, every later one replaces it with a summary of the burst
/// ("20 documents arrived"), so that a burst leaves one notice.
class arrival_notices {
 public:
  /// The longest pause between two arrivals of one burst.
  static constexpr std::chrono::milliseconds burst_gap{10000};

  /// The notice for `a`, arriving at `now` (any steady clock; times must not go back).
  notice arrive(const arrival& a, std::chrono::milliseconds now);

 private:
  bool any_ = false;
  std::chrono::milliseconds last_{0};
  int32_t burst_count_ = 0;
  int32_t burst_failed_ = 0;
};

}  // namespace quorvane
