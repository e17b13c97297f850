#include "spooler/cups_spooler.h"

#include <cups/cups.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "core/log.h"
#include "spooler/cups_status_p.h"
#include "spooler/document_stream.h"
#include "spooler/spooler_p.h"

namespace quorvane {

namespace {

// Job options of one CUPS job, released with the object.
struct job_options {
  int count = 0;
  cups_option_t* list = nullptr;
  ~job_options() { cupsFreeOptions(count, list); }
  void add(const char* name, const std::string& value) {
    count = cupsAddOption(name, value.c_str(), count, &list);
  }
};

// The CUPS objects that one print opens, released on every path.
struct cups_session {
  cups_dest_t* dest = nullptr;
  http_t* http = nullptr;
  cups_dinfo_t* info = nullptr;
  ~cups_session() {
    if (info) cupsFreeDestInfo(info);
    if (http) httpClose(http);
    if (dest) cupsFreeDests(1, dest);
  }
  bool connect() {
    char resource[1024];
    http = cupsConnectDest(dest, CUPS_DEST_FLAGS_NONE, /*msec=*/30000, /*cancel=*/nullptr, resource,
                           sizeof resource,
                           /*cb=*/nullptr, /*user_data=*/nullptr);
    return http != nullptr;
  }
};

constexpr double points_per_hundredth_mm = 72.0 / 2540.0;

bool is_landscape(int32_t orientation) {
  const model::job_orientation_entry* entry = model::find_value(model::job_orientations, orientation);
  return entry && entry->landscape;
}

// The paper for the PWG media name `wanted`: that size when the destination offers it, else the
// destination's default paper. False when the destination names neither.
bool find_paper(cups_session& session, const std::string& wanted, cups_size_t& size) {
  if (!wanted.empty() &&
      cupsCheckDestSupported(session.http, session.dest, session.info, CUPS_MEDIA, wanted.c_str()) &&
      cupsGetDestMediaByName(session.http, session.dest, session.info, wanted.c_str(),
                             CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
    return true;
  }
  return cupsGetDestMediaDefault(session.http, session.dest, session.info, CUPS_MEDIA_FLAGS_DEFAULT, &size);
}

// Opens the destination `name` with its connection and information. Returns 0, or the status of the failure
// (logged).
int32_t open_destination(cups_session& session, const std::string& name) {
  // cupsGetNamedDest takes an empty name for the default destination; a printer always names its own.
  session.dest = name.empty() ? nullptr : cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
  if (!session.dest) {
    QV_LOG(log_error, "Unable to open printer '%s': %s", name.c_str(), cupsLastErrorString());
    return cups_failure_status(IPP_STATUS_ERROR_NOT_FOUND);
  }
  if (!session.connect() || !(session.info = cupsCopyDestInfo(session.http, session.dest))) {
    QV_LOG(log_error, "Unable to open printer '%s': %s", name.c_str(), cupsLastErrorString());
    return cups_failure_status();
  }
  return 0;
}

// Cancels a job whose document could not be completed, on a fresh connection: the one the document was
// streaming on is in the middle of a request.
void abandon_job(cups_session& session, int job_id) {
  if (session.http) httpClose(session.http);
  session.http = nullptr;
  if (session.connect() && cupsCancelDestJob(session.http, session.dest, job_id) != IPP_STATUS_OK) {
    QV_LOG(log_warning, "Unable to cancel job %d: %s", job_id, cupsLastErrorString());
  }
}

}  // namespace

double render_resolution(double printable_width, double page_width) {
  if (!(printable_width > 0) || !(page_width > 0)) return 0;
  const double inches = std::trunc(page_width / 72.0);
  if (inches < 1) return printable_width * 72.0 / page_width;
  return std::trunc(printable_width / inches);
}

print_settings print_settings_for(const model::printer& printer, const model::job& job, int32_t orientation,
                                  const std::string& owner) {
  print_settings settings;
  std::vector<job_option>& options = settings.options;
  if (printer.landscape() & model::feature_on) {
    settings.landscape = is_landscape(orientation);
    options.push_back(
        {"orientation-requested",
         std::to_string(settings.landscape ? model::orientation_landscape : model::orientation_portrait)});
  }
  if (printer.duplex() & model::feature_on) {
    const model::job_duplex_entry* sides = model::find_value(model::job_duplex_modes, job.duplex());
    options.push_back({"sides", sides ? sides->name : model::job_duplex_modes[0].name});
  }
  if (printer.copy() & model::feature_on) {
    options.push_back({"copies", std::to_string(std::max(1, job.copies()))});
    settings.render_copies = 1;
  } else {
    settings.render_copies = job.copies();
  }
  const bool color = (printer.color() & model::feature_on) && job.isColor();
  options.push_back({"print-color-mode", color ? "color" : "monochrome"});
  options.push_back({"quorvane-origin", "quorvane://" + escape(owner) + "@" + job.deviceAddress()});
  return settings;
}

std::optional<device_page> page_geometry(const model::paper_size& size, bool landscape) {
  if (size.width <= 0 || size.length <= 0) return std::nullopt;
  device_page page;
  page.width = size.width * points_per_hundredth_mm;
  page.height = size.length * points_per_hundredth_mm;
  page.left = size.left * points_per_hundredth_mm;
  page.top = size.top * points_per_hundredth_mm;
  page.printable_width = (size.width - size.left - size.right) * points_per_hundredth_mm;
  // Turned paper, as a landscape device context would have it.
  if (landscape) {
    std::swap(page.width, page.height);
    page.left = size.bottom * points_per_hundredth_mm;
    page.top = size.left * points_per_hundredth_mm;
    page.printable_width = (size.length - size.top - size.bottom) * points_per_hundredth_mm;
  }
  if (page.printable_width <= 0) page.printable_width = page.width;
  return page;
}

CupsSpooler::CupsSpooler(model::printer_ptr printer, model::job_ptr job)
    : printer_(std::move(printer)),
      job_(std::move(job)),
      printerName_(printer_->name().narrow()),
      title_(job_->name().narrow()),
      owner_(cups_owner_name(job_->user().narrow())),
      path_(job_->filename().narrow()),
      media_(job_->media() ? job_->media()->name() : std::string()),
      orientation_(job_->orientation()) {}

CupsSpooler::~CupsSpooler() = default;

void CupsSpooler::updateJob() {
  job_->setOrientation(orientation_);
  job_->setDeliveryFailure(static_cast<int32_t>(failure_));
}

void CupsSpooler::fail(int32_t status, delivery_failure why) {
  status_ = status;
  // The first reason stands: a refused render is followed by the cancel of its CUPS job.
  if (why != delivery_failure::none) {
    failure_ = why;
  } else if (failure_ == delivery_failure::none) {
    failure_ = cups_failure_of(status);
  }
  jobState_ = model::job_state_aborted;
  platformJobId_ = 0;
}

void CupsSpooler::refuse(const std::string& reason, delivery_failure why) {
  QV_LOG(log_error, "Unable to print '%s': %s", title_.c_str(), reason.c_str());
  fail(-1, why);
}

void CupsSpooler::print() {
  // Checked before anything else: without the printer's copy feature the document itself is rendered once
  // for each copy, and with it CUPS would be asked for them.
  if (const int32_t copies = job_->copies(); copies > model::max_copies) {
    refuse(std::to_string(copies) + " copies asked for, at most " + std::to_string(model::max_copies) +
               " are printed",
           delivery_failure::too_many_copies);
    return;
  }
  if (!setup()) {
    QV_LOG(log_error, "setup() failed");
    return;
  }
  const print_settings settings = print_settings_for(*printer_, *job_, orientation_, owner_);
  renderCopies_ = settings.render_copies;
  // Without the printer's copy feature every copy is rendered into the document CUPS spools.
  if (const int64_t pages = int64_t{renderCopies_} * pageCount(); pages > max_rendered_pages) {
    refuse(std::to_string(renderCopies_) + " copies of " + std::to_string(pageCount()) + " pages are " +
               std::to_string(pages) + " pages to render, at most " + std::to_string(max_rendered_pages) +
               " go into one print document",
           delivery_failure::too_many_pages);
    return;
  }
  const std::string& name = printerName_;
  cups_session session;
  if (const int32_t status = open_destination(session, name); status != 0) {
    fail(status);
    return;
  }

  job_options options;
  for (const job_option& option : settings.options) options.add(option.name.c_str(), option.value);
  // The job's media is a PWG name; a destination that does not offer it prints on its default paper.
  device_page page;
  cups_size_t size{};
  if (find_paper(session, media_, size)) {
    const model::paper_size paper{.name = size.media,
                                  .width = size.width,
                                  .length = size.length,
                                  .left = size.left,
                                  .bottom = size.bottom,
                                  .right = size.right,
                                  .top = size.top};
    if (const std::optional<device_page> laid_out = page_geometry(paper, settings.landscape)) {
      options.add("media", size.media);
      page = *laid_out;
    }
  }

  // The job is the remote user's.
  const std::string& owner = owner_;
  cupsSetUser(owner.empty() ? nullptr : owner.c_str());
  const std::string& title = title_;
  int job_id = 0;
  if (cupsCreateDestJob(session.http, session.dest, session.info, &job_id, title.c_str(), options.count,
                        options.list) > IPP_STATUS_OK_EVENTS_COMPLETE ||
      job_id <= 0) {
    QV_LOG(log_error, "Unable to create job '%s' on '%s': %s", title.c_str(), name.c_str(),
           cupsLastErrorString());
    fail(cups_failure_status());
    return;
  }
  // A job whose document fails is cancelled; the failure's status is taken before the cancel replaces it.
  const auto abandon = [&] {
    const int32_t status = cups_failure_status();
    abandon_job(session, job_id);
    fail(status);
  };
  if (cupsStartDestDocument(session.http, session.dest, session.info, job_id, title.c_str(), CUPS_FORMAT_PDF,
                            /*num_options=*/0, /*options=*/nullptr,
                            /*last_document=*/1) != HTTP_STATUS_CONTINUE) {
    QV_LOG(log_error, "Unable to send document of job %d to '%s': %s", job_id, name.c_str(),
           cupsLastErrorString());
    abandon();
    return;
  }

  bool written = true;
  {
    http_t* http = session.http;
    document_stream out([http](const unsigned char* data, size_t length) {
      return cupsWriteRequestData(http, reinterpret_cast<const char*>(data), length) == HTTP_STATUS_CONTINUE;
    });
    // A format's render logs its own failures; a refused write is logged here.
    written = render(out, page);
    written = out.finish() && written;
    if (!out.ok()) QV_LOG(log_error, "Unable to write document of job %d: %s", job_id, cupsLastErrorString());
  }
  if (!written) {
    abandon();
    return;
  }
  if (cupsFinishDestDocument(session.http, session.dest, session.info) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    QV_LOG(log_error, "Unable to finish document of job %d: %s", job_id, cupsLastErrorString());
    abandon();
    return;
  }
  status_ = 0;
  jobState_ = model::job_state_processing;
  platformJobId_ = job_id;
}

}  // namespace quorvane
