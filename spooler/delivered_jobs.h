// The console's record of the jobs it delivered lately, with the answer it gave for each. The service
// stores a job's end only once the answer reached it; stopped in between, it sends the job again after its
// restart. A repeated "print" of a recorded job is answered from here, without a second copy, opening or
// print.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/ref_counted.h"
#include "model/job.h"
#include "model/printer.h"
#include "service_link/print_completion.h"

namespace quorvane {

/// The answer given to the service for one job: (status, job state, platform job id).
struct delivery_answer {
  int32_t status = 0;
  int32_t state = 0;
  int32_t platform_job_id = 0;

  /// Equal when all three members are.
  bool operator==(const delivery_answer&) const = default;
};

/// What the console keeps of one delivered job, for the list of the documents that came lately.
struct delivered_document {
  std::string uuid;
  int64_t delivered = 0;  ///< when its answer was recorded, in seconds since 1970
  std::string document;   ///< the job's name
  std::string user;       ///< the sending user
  std::string device;     ///< the device's name, else its address
  std::string printer;    ///< the printer's display name (with its hidden mark, as stored)
  int32_t action = 0;     ///< the printer's action at the time (model::action_*)
  std::string
      action_param;     ///< its application (action_open), or the CUPS queue it printed on (action_print)
  std::string file;     ///< where the delivery left the document; empty when it kept none
  std::string format;   ///< the document's MIME type
  int32_t status = 0;   ///< the delivery's status: 0 delivered, else failed
  int32_t failure = 0;  ///< why it failed (a delivery_failure value); 0 when it did not

  /// Equal when every member is.
  bool operator==(const delivered_document&) const = default;
};

/// What the delivery of `job` on `printer` that ended with `status` leaves to keep (the time is left at 0):
/// the file is the job's file after the delivery when it succeeded and the printer keeps its documents or
/// opens them (the copy it opened); a print keeps none.
delivered_document delivered_document_of(const model::printer& printer, const model::job& job,
                                         int32_t status);

/// The jobs delivered lately, by job uuid, in the table "delivered_job" of the console's database.
///
/// Kept: the newest `capacity` records (1,000 by default), none older than `keep_seconds` (30 days by
/// default). That outlasts the service's three attempts and its restart, however long it is down within
/// those 30 days. A record is committed before its answer is sent, so it survives the console's own end
/// after it; only an end of the console between a delivery's effect and its record can still let a job be
/// delivered twice. Used on the run loop's thread only.
class delivered_jobs final : public ref_counted_object {
 public:
  /// Delivers one job and answers through the completion (the spooler's `print`, or a test's).
  using deliver_function = std::function<void(model::printer_ptr, model::job_ptr, print_completion)>;
  /// The current time in seconds since 1970.
  using clock_function = std::function<int64_t()>;

  /// The number of records kept by default.
  static constexpr size_t default_capacity = 1000;
  /// How long a record is kept by default: 30 days, in seconds.
  static constexpr int64_t default_keep_seconds = int64_t{30} * 24 * 3600;

  /// A record keeping at most `capacity` jobs, each for `keep_seconds`; `now` (the system clock when empty)
  /// dates the records.
  explicit delivered_jobs(size_t capacity = default_capacity, int64_t keep_seconds = default_keep_seconds,
                          clock_function now = {});

  /// The answer recorded for `uuid` within the keeping time; none when there is none or the database
  /// cannot be read.
  std::optional<delivery_answer> find(const std::string& uuid);
  /// Stores `answer` for `uuid` (replacing an earlier one) and removes the records beyond the capacity or
  /// the keeping time; false when the record could not be written.
  bool record(const std::string& uuid, const delivery_answer& answer);
  /// `record` that also keeps what `document` says of the job (its uuid is the record's).
  bool record(const delivered_document& document, const delivery_answer& answer);
  /// The records that still keep their document and were not taken off the list, newest first, within
  /// the keeping time; empty on a database error. The time of each is the record's.
  std::vector<delivered_document> listed_documents();
  /// Takes the record of `uuid` off the list of documents; the record itself stays, so that a repeat of the
  /// job is still answered without a second delivery. False when no listed record has that uuid or the
  /// database refuses.
  bool unlist(const std::string& uuid);
  /// The number of records stored (expired ones included until the next `record`); -1 on a database error.
  int64_t count();

  /// Delivers `job` through `deliver` unless it was delivered already: a recorded job is answered with its
  /// recorded answer at once; a job whose delivery is still under way is answered with that delivery's
  /// answer when it comes. Otherwise the answer is recorded before `completion` hears it. A job without a
  /// uuid is delivered every time.
  void print(model::printer_ptr printer, model::job_ptr job, print_completion completion,
             const deliver_function& deliver);

 private:
  /// Creates the table when it is not there yet; false when the database refuses.
  bool ensure_table();
  /// Records the answer of the delivery of `uuid`, with what `document` (may be null) says of the job, and
  /// tells every completion waiting for it.
  void finish(const std::string& uuid, const delivery_answer& answer, const delivered_document* document);
  /// Writes the record of `uuid` with the document's details (null: none); false when not written.
  bool write(const std::string& uuid, const delivery_answer& answer, const delivered_document* document);

  size_t capacity_;
  int64_t keep_seconds_;
  clock_function now_;
  bool table_ready_ = false;
  // The completions waiting for each delivery under way: the first is the delivery's own.
  std::map<std::string, std::vector<print_completion>> under_way_;
};

}  // namespace quorvane
