#include "print_service/cups/cups_printers.h"

#include <algorithm>

#include "core/log.h"
#include "model/media.h"
#include "model/printer.h"

namespace quorvane::print_service {
namespace {

std::string option(const cups_dest_t& dest, const char* name) {
  const char* value = cupsGetOption(name, dest.num_options, dest.options);
  return value ? value : "";
}

int32_t option_int(const cups_dest_t& dest, const char* name, int32_t fallback) {
  const std::string text = option(dest, name);
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' ? static_cast<int32_t>(value) : fallback;
}

// Adds the queue's document formats and PWG media sizes from its destination information.
void read_supported(http_t* http, cups_dest_t* dest, cups_queue& queue) {
  cups_dinfo_t* info = cupsCopyDestInfo(http, dest);
  if (!info) {
    QV_LOG(log_warning, "Unable to read capabilities of queue '%s': %s", dest->name, cupsLastErrorString());
    return;
  }
  if (ipp_attribute_t* formats = cupsFindDestSupported(http, dest, info, "document-format")) {
    for (int i = 0; i < ippGetCount(formats); ++i) {
      if (const char* format = ippGetString(formats, i, nullptr)) queue.formats.emplace_back(format);
    }
  }
  const int count = cupsGetDestMediaCount(http, dest, info, CUPS_MEDIA_FLAGS_DEFAULT);
  for (int i = 0; i < count; ++i) {
    cups_size_t size{};
    if (!cupsGetDestMediaByIndex(http, dest, info, i, CUPS_MEDIA_FLAGS_DEFAULT, &size)) continue;
    // Borderless and tray variants repeat a size; the first listing wins.
    const bool seen = std::any_of(queue.media.begin(), queue.media.end(),
                                  [&](const model::paper_size& m) { return m.name == size.media; });
    if (seen) continue;
    queue.media.push_back({.name = size.media,
                           .width = size.width,
                           .length = size.length,
                           .left = size.left,
                           .bottom = size.bottom,
                           .right = size.right,
                           .top = size.top});
  }
  cupsFreeDestInfo(info);
}

// The destinations of one enumeration, copied as libcups hands them over.
struct collected_dests {
  int count = 0;
  cups_dest_t* dests = nullptr;
};

int keep_dest(void* data, unsigned flags, cups_dest_t* dest) {
  auto* collected = static_cast<collected_dests*>(data);
  if (!(flags & CUPS_DEST_FLAGS_REMOVED))
    collected->count = cupsCopyDest(dest, collected->count, &collected->dests);
  return 1;
}

}  // namespace

cups_queue queue_from_dest(const cups_dest_t& dest) {
  cups_queue queue;
  queue.name = dest.name ? dest.name : "";
  queue.info = option(dest, "printer-info");
  queue.location = option(dest, "printer-location");
  queue.make_and_model = option(dest, "printer-make-and-model");
  queue.state = option_int(dest, "printer-state", 3);
  queue.type = option_int(dest, "printer-type", 0);
  return queue;
}

void split_make_and_model(const std::string& text, std::string& make, std::string& model) {
  const size_t space = text.find(' ');
  make = text.substr(0, space);
  const size_t rest = space == std::string::npos ? std::string::npos : text.find_first_not_of(' ', space);
  model = rest == std::string::npos ? std::string() : text.substr(rest);
}

Json::Value printer_from_queue(const cups_queue& queue, const std::string& uuid) {
  model::printer_ptr p = make_counted<model::printer>();
  std::string make, model_name;
  split_make_and_model(queue.make_and_model, make, model_name);
  p->setUuid(uuid);
  p->setName(wide_string::from_narrow(queue.name));
  p->setDisplayName(queue.info.empty() ? queue.name : queue.info);
  p->setLocation(wide_string::from_narrow(queue.location));
  p->setMake(wide_string::from_narrow(make));
  p->setModel(wide_string::from_narrow(model_name));
  // Colour and duplex as the queue reports them; the user may turn the page; CUPS makes the copies.
  p->setFeature(model::printer_feature::color,
                model::feature_offered | ((queue.type & CUPS_PRINTER_COLOR) ? model::feature_on : 0));
  p->setFeature(model::printer_feature::landscape, model::feature_offered);
  p->setFeature(model::printer_feature::duplex,
                (queue.type & CUPS_PRINTER_DUPLEX) ? model::feature_offered : 0);
  p->setFeature(model::printer_feature::copy, model::feature_offered | model::feature_on);
  p->setFormats(queue.formats);
  model::media_list media;
  int32_t type = 0;
  for (const model::paper_size& size : queue.media) {
    const pwg_media_t* known = pwgMediaForPWG(size.name.c_str());
    auto m = make_counted<model::media>(size.name, known && known->ppd ? known->ppd : size.name, /*klass=*/0,
                                        type++, size.width, size.length);
    m->addMargins({"", size.left, size.top, size.right, size.bottom});
    media.push_back(std::move(m));
  }
  p->setMedia(std::move(media));
  p->setState(queue.state);
  p->setAction(model::action_print);
  p->setActionParam(wide_string::from_narrow(queue.name));
  p->setAutoCreated(true);
  Json::Value out(Json::objectValue);
  p->writeJSON(out);
  return out;
}

bool is_scheduler_queue(const cups_dest_t& dest) {
  return (option_int(dest, "printer-type", 0) & CUPS_PRINTER_DISCOVERED) == 0;
}

std::vector<cups_queue> list_cups_queues(bool& reachable, bool log_outcome) {
  std::vector<cups_queue> queues;
  // Masking out discovered printers (see `is_scheduler_queue`) also spares the DNS-SD browse that the plain
  // destination list makes at every reading; the check in the loop below stays as the guard.
  collected_dests collected;
  cupsEnumDests(CUPS_DEST_FLAGS_NONE, 0, nullptr, 0, CUPS_PRINTER_DISCOVERED, keep_dest, &collected);
  const int count = collected.count;
  cups_dest_t* dests = collected.dests;
  const ipp_status_t status = cupsLastError();
  // "Not found" is the server's answer when it has no queue at all.
  reachable = count > 0 || status <= IPP_STATUS_OK_EVENTS_COMPLETE || status == IPP_STATUS_ERROR_NOT_FOUND;
  if (!reachable) {
    if (log_outcome)
      QV_LOG(log_information, "Unable to list CUPS queues '%s': %s; no CUPS printer is offered", cupsServer(),
             cupsLastErrorString());
    cupsFreeDests(count, dests);
    return queues;
  }
  for (int i = 0; i < count; ++i) {
    if (!is_scheduler_queue(dests[i])) continue;
    cups_queue queue = queue_from_dest(dests[i]);
    read_supported(CUPS_HTTP_DEFAULT, &dests[i], queue);
    queues.push_back(std::move(queue));
  }
  cupsFreeDests(count, dests);
  if (log_outcome) QV_LOG(log_information, "%zu CUPS queue(s) offered as printers", queues.size());
  return queues;
}

}  // namespace quorvane::print_service
