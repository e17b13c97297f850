// The print paths: a job printed on a CUPS destination, rendered from a PDF file or from an image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/job.h"
#include "model/media.h"
#include "model/printer.h"
#include "model/values.h"
#include "spooler/delivery_failure.h"
#include "spooler/pdf_document.h"

namespace quorvane {

class document_stream;
class image_library;

/// The most pages the console renders into the document of one CUPS job (the copies it renders itself
/// times the pages printed): 10,000 pages of a document 10 times. Beyond that a job would keep a worker busy
/// for hours and fill CUPS's spool with gigabytes; a printer with the copy feature makes its copies itself.
constexpr int64_t max_rendered_pages = 100000;

/// The page of the destination's paper that the print document is laid out on, in points.
struct device_page {
  double width = 612;
  double height = 792;
  double left = 0;  ///< the printable area's offset from the left edge
  double top = 0;   ///< the printable area's offset from the top edge
  double printable_width = 612;
};

/// One option of a CUPS job: an IPP attribute's name and its value as text.
struct job_option {
  std::string name;
  std::string value;

  /// Equal when name and value are.
  friend bool operator==(const job_option&, const job_option&) = default;
};

/// What a printer record and a job ask of the CUPS job that prints the job.
struct print_settings {
  /// The job options, in the order they are given to CUPS; "media" is not among them: the paper depends on
  /// what the destination offers.
  std::vector<job_option> options;
  /// How many times the document is drawn into the print document: 1 when the printer makes the copies.
  int32_t render_copies = 1;
  /// Whether the page is laid out on turned paper.
  bool landscape = false;
};

/// The settings for printing `job` on `printer` in `orientation` (the job's, or the one an image chose) as
/// the CUPS user `owner`. Orientation, sides and copies go to CUPS only when bit `feature_on` of the
/// printer's matching feature word is set (otherwise the document itself makes the copies); colour only when
/// the printer's colour is on and the job asks for it. A duplex mode the table does not know prints
/// one-sided, and CUPS is asked for at least one copy. The job says where it came from in "quorvane-origin".
print_settings print_settings_for(const model::printer& printer, const model::job& job, int32_t orientation,
                                  const std::string& owner);

/// The page that a document is laid out on for `size`, in points: turned when `landscape` (its width and
/// height swap and the margins turn with it). A printable width that margins leave at zero or below is the
/// page's whole width. Nothing when the size has no width or no length (the document is laid out on the
/// default page and CUPS chooses the paper).
std::optional<device_page> page_geometry(const model::paper_size& size, bool landscape);

/// Prints one job on the CUPS destination named by the printer's `name`, on a worker thread: the job options
/// from the printer's features and the job's wishes, a CUPS job owned by the remote user, and the document
/// rendered as PDF straight into the job. Afterwards status, job state and platform job id hold the outcome
/// for the print completion: (0, 5, CUPS job id), or (error, 8, 0) with the error as `cups_failure_status`
/// (cups_status_p.h) defines it.
class CupsSpooler {
 public:
  /// Keeps the records; nothing is opened yet.
  CupsSpooler(model::printer_ptr printer, model::job_ptr job);
  /// Releases what the format's part holds.
  virtual ~CupsSpooler();
  CupsSpooler(const CupsSpooler&) = delete;
  CupsSpooler& operator=(const CupsSpooler&) = delete;

  /// Runs every step; returns nothing: the outcome is in status, jobState and platformJobId. Everything
  /// opened on the way (connection, destination, job options, surfaces) is released before it returns. A
  /// job asking for more than `model::max_copies` copies, whose document is over the render budget
  /// (render_budget.h), or whose rendered copies would hold more than `max_rendered_pages` pages, is refused
  /// before the destination is opened: status -1, job state 8, and the log line "Unable to print 'TITLE':
  /// REASON".
  void print();

  /// 0 or the error code of the failed step.
  int32_t status() const { return status_; }
  /// 3 until `print` has run, then 5 (handed to CUPS) or 8 (aborted).
  int32_t jobState() const { return jobState_; }
  /// The CUPS job id, 0 after a failure.
  int32_t platformJobId() const { return platformJobId_; }
  /// How many times `render` repeats the document (the job's copies when the printer makes no copies).
  int32_t renderCopies() const { return renderCopies_; }
  /// The orientation printed: the job's, or the one an image's shape chose (3 portrait, 4 landscape).
  int32_t orientation() const { return orientation_; }

  /// Writes what printing decided back into the job record (the orientation, with change tracking, and why a
  /// failure failed). Call on
  /// the thread that owns the records, once `print` has returned.
  void updateJob();

 protected:
  /// Prepares the document before the destination is opened; on failure sets the outcome and returns false.
  virtual bool setup() = 0;
  /// Draws the document `renderCopies` times into `out`, whose paper is `page`; false on failure.
  virtual bool render(document_stream& out, const device_page& page) = 0;
  /// The pages one rendering of the document draws, once `setup` succeeded.
  virtual int64_t pageCount() const = 0;

  /// Sets the outcome of a failure: `status`, job state 8, no job id; and why, for the job record: `why`,
  /// else the reason a failure before this one gave, else what `status` says (`cups_failure_of`).
  void fail(int32_t status, delivery_failure why = delivery_failure::none);

  /// Refuses the job for `reason` (what is wrong with it, e.g. "the image is 65535 x 65535 pixels, ..."):
  /// logs "Unable to print 'TITLE': REASON" and fails with -1 for `why` (by default a document over the
  /// render budget).
  void refuse(const std::string& reason, delivery_failure why = delivery_failure::document_too_large);

  model::printer_ptr printer_;
  model::job_ptr job_;
  int32_t renderCopies_ = 1;
  // UTF-8 texts of the records, taken on the constructing thread: making them on the worker would write the
  // records' cached copies while the run loop's thread may read them.
  std::string printerName_;
  std::string title_;
  std::string owner_;
  std::string path_;
  std::string media_;
  // The job's orientation, changed by an image's setup; reaches the record only through `updateJob`, so the
  // worker never writes the record.
  int32_t orientation_;

 private:
  int32_t status_ = 0;
  delivery_failure failure_ = delivery_failure::none;
  int32_t jobState_ = model::job_state_pending;
  int32_t platformJobId_ = 0;
};

/// A PDF file printed page by page with poppler.
class PDFSpooler final : public CupsSpooler {
 public:
  /// Keeps the records; the file is loaded by `setup`.
  PDFSpooler(model::printer_ptr printer, model::job_ptr job);

 protected:
  bool setup() override;
  bool render(document_stream& out, const device_page& page) override;
  int64_t pageCount() const override;

 private:
  pdf_document document_;
  int32_t firstPage_ = 0;
  int32_t lastPage_ = 0;
};

/// A JPEG or PNG image laid out on one page of its own size by the image library, then scaled onto the
/// destination's paper.
class IMGSpooler final : public CupsSpooler {
 public:
  /// Keeps the records and the (shared, not owned) image library.
  IMGSpooler(image_library& library, model::printer_ptr printer, model::job_ptr job);
  /// Releases the image document.
  ~IMGSpooler() override;

 protected:
  bool setup() override;
  bool render(document_stream& out, const device_page& page) override;
  int64_t pageCount() const override;

 private:
  image_library& library_;
  int32_t document_ = 0;
};

/// The resolution at which a page `page_width` points wide is rendered onto a printable width of
/// `printable_width` device dots: the printable width spread over the whole inches that the page's width
/// holds. A page narrower than one inch is fitted to the printable width instead (the whole-inch rule would
/// divide by zero). 0 when either width is not positive.
double render_resolution(double printable_width, double page_width);

}  // namespace quorvane
