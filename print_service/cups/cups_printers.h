// The machine's CUPS queues, offered by the service as printers of its own that print through CUPS.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>

#include "model/media.h"

namespace quorvane::print_service {

/// What the service needs to know of one CUPS queue.
struct cups_queue {
  std::string name;
  std::string info;            // "printer-info"
  std::string location;        // "printer-location"
  std::string make_and_model;  // "printer-make-and-model"
  int32_t state = 3;           // "printer-state": 3 idle, 4 processing, 5 stopped
  int32_t type = 0;            // "printer-type" bits (CUPS_PRINTER_COLOR, CUPS_PRINTER_DUPLEX, ...)
  std::vector<std::string> formats;
  std::vector<model::paper_size> media;
};

/// The queue described by the options of `dest` (formats and media are left empty).
cups_queue queue_from_dest(const cups_dest_t& dest);

/// Whether `dest` is a queue of the scheduler. libcups also lists printers it discovered on the network
/// (DNS-SD), which are no queues: asking one for its capabilities makes the scheduler create a queue for it
/// and reach the device, which can take a long time for a device that does not answer, and the service's own
/// advertised IPP printers would come back to it as CUPS printers.
bool is_scheduler_queue(const cups_dest_t& dest);

/// The printer offered for `queue` with `uuid`, as the JSON of a `model::printer` built from it: action
/// `action_print`, `name` and `actionParam` the queue's name, `autoCreated` true, colour and duplex from the
/// queue's type, one set of margins per paper size.
Json::Value printer_from_queue(const cups_queue& queue, const std::string& uuid);

/// Splits "Maker Model words" at its first space into make and model.
void split_make_and_model(const std::string& text, std::string& make, std::string& model);

/// The machine's CUPS queues (see `is_scheduler_queue`) with their formats and media. `reachable` is false
/// when the CUPS server could not be asked (no queue is returned then); with `log_outcome` the cause, or the
/// number of queues, is logged (a caller that reports outages itself passes false).
std::vector<cups_queue> list_cups_queues(bool& reachable, bool log_outcome = true);

}  // namespace quorvane::print_service
