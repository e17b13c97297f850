// The IPP server's printer catalogue: which printers of the store PAPPL offers, made, changed and withdrawn.
#include "print_service/ipp/ipp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "model/phone_names.h"
#include "model/values.h"
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/ipp/ipp_printer_description.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

bool ipp_server::is_offered(const Json::Value& printer) {
  // PAPPL names a printer by its uuid as C text and removes a deleted printer from its list by that name: two
  // uuids that differ only after a NUL byte would be one name, and deleting one printer would free the
  // other, still in use here.
  const std::string uuid = string_member(printer, "uuid");
  return printer.isObject() && !uuid.empty() && uuid.find('\0') == std::string::npos &&
         printer["enabled"].isBool() && printer["enabled"].asBool() &&
         (!printer.isMember("exists") || printer["exists"].asBool());
}

std::string ipp_server::printer_info(const Json::Value& printer) {
  return model::phone_description(string_member(printer, "displayName"), string_member(printer, "name"),
                                  string_member(printer, "uuid"));
}

std::string ipp_server::service_name(const Json::Value& printer) {
  return model::phone_name(string_member(printer, "displayName"), string_member(printer, "name"),
                           string_member(printer, "uuid"));
}

void ipp_server::end_jobs_without_document(pappl_printer_t* printer) {
  std::vector<pappl_job_t*> waiting;
  papplPrinterIterateActiveJobs(
      printer,
      [](pappl_job_t* job, void* data) {
        // A job held without a file waits for its Send-Document (or is receiving one: PAPPL then cancels it
        // once the document's read ends, which the connection's end makes quick).
        if (papplJobGetState(job) == IPP_JSTATE_HELD && !papplJobGetFilename(job)) {
          static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job);
        }
      },
      &waiting, 1, 0);
  for (pappl_job_t* job : waiting) {
    QV_LOG(log_information, "IPP job %d ended without its document: the print service stops",
           papplJobGetID(job));
    papplJobSetMessage(job, "The print service stopped before the document arrived.");
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplJobCancel(job);
  }
}

void ipp_server::offer(const std::vector<Json::Value>& printers) {
  if (!system_) return;
  wanted_ = printers;
  note_uncheckable_passwords(printers);
  std::map<std::string, const Json::Value*> wanted;
  for (const Json::Value& p : wanted_) {
    if (is_offered(p)) wanted[string_member(p, "uuid")] = &p;
  }
  for (auto it = printers_.begin(); it != printers_.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    withdraw(it->first, it->second.printer);
    it = printers_.erase(it);
  }
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->records.clear();
    for (const auto& [uuid, p] : wanted) shared_->records[uuid] = *p;
  }
  add_pages(printers);
  for (const auto& [uuid, p] : wanted) {
    // A printer still being withdrawn comes back once its old PAPPL printer is gone.
    if (withdrawing_.count(uuid)) continue;
    auto found = printers_.find(uuid);
    if (found == printers_.end()) {
      if (pappl_printer_t* created = create_printer(*p)) printers_[uuid] = offered_printer{created, *p};
      continue;
    }
    if (found->second.record == *p) continue;
    pappl_printer_t* printer = found->second.printer;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    fill_driver_data(*p, data);
    ipp_t* attributes = virtual_printer_attributes();
    const bool updated = papplPrinterSetDriverData(printer, &data, attributes);
    ippDelete(attributes);
    if (!updated) {
      QV_LOG(log_warning, "Unable to update IPP printer '%s'", uuid.c_str());
    }
    papplPrinterSetLocation(printer, string_member(*p, "location").c_str());
    // Also refreshes the advertisement's TXT record (colour, duplex).
    papplPrinterSetDNSSDName(printer, dnssd_ ? service_name(*p).c_str() : nullptr);
    found->second.record = *p;
    QV_LOG(log_information, "IPP printer '%s' updated", service_name(*p).c_str());
  }
}

pappl_printer_t* ipp_server::create_printer(const Json::Value& printer) {
  const std::string uuid = string_member(printer, "uuid");
  // A printer keeps its id for the run; ids start from a hash of the uuid so that they rarely move.
  int& id = printer_ids_[uuid];
  if (id == 0) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : uuid) hash = (hash ^ c) * 16777619u;
    id = static_cast<int>(hash % 1000000u) + 1;
    const auto taken = [&](int candidate) {
      return std::any_of(printer_ids_.begin(), printer_ids_.end(),
                         [&](const auto& entry) { return entry.first != uuid && entry.second == candidate; });
    };
    while (taken(id)) id = id % 1000000 + 1;
  }
  const std::string uri = device_uri(uuid);
  creating_ = &printer;
  // The uuid as PAPPL's printer name gives a resource path and a printer-uuid that follow the printer's
  // own uuid across restarts.
  // Without a device ID PAPPL makes one of the make and model and the formats the printer takes.
  pappl_printer_t* created =
      papplPrinterCreate(system_, id, uuid.c_str(), driver_name, /*device_id=*/nullptr, uri.c_str());
  creating_ = nullptr;
  if (!created) {
    QV_LOG(log_error, "Unable to offer printer '%s' over IPP: %s", uuid.c_str(), strerror(errno));
    return nullptr;
  }
  papplPrinterSetLocation(created, string_member(printer, "location").c_str());
  // A printer created while the system runs is advertised only once a DNS-SD name is set.
  papplPrinterSetDNSSDName(created, dnssd_ ? service_name(printer).c_str() : nullptr);
  QV_LOG(log_information, "IPP printer '%s' offered as '%s'", service_name(printer).c_str(), uuid.c_str());
  return created;
}

void ipp_server::withdraw(const std::string& uuid, pappl_printer_t* printer) {
  QV_LOG(log_information, "IPP printer '%s' withdrawn", uuid.c_str());
  papplPrinterSetDNSSDName(printer, nullptr);
  papplPrinterDisable(printer);
  papplPrinterCancelAllJobs(printer);
  withdrawing_.insert(uuid);
  // papplPrinterDelete frees the printer at once: a job thread still inside one of our callbacks would use
  // freed memory. The printer goes only once no job of it is active, and a little later, when PAPPL has
  // left the job's last step.
  std::shared_ptr<shared_state> shared = shared_;
  poll_runloop* loop = &loop_;
  withdrawals_[uuid] = std::thread([this, shared, loop, uuid, printer] {
    std::unique_lock<std::mutex> lock(shared->mutex);
    bool idle = false;
    while (!shared->stopping) {
      lock.unlock();
      idle = papplPrinterGetNumberOfActiveJobs(printer) == 0 &&
             papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING;
      lock.lock();
      if (idle) {
        if (shared->changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return shared->stopping; }))
          break;
        loop->post([this, shared, uuid, printer] {
          // After `stop` the system and its printers are gone; this object may be too.
          {
            std::lock_guard<std::mutex> guard(shared->mutex);
            if (shared->stopping) return;
          }
          finish_withdrawal(uuid, printer);
        });
        return;
      }
      shared->changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return shared->stopping; });
    }
  });
}

void ipp_server::finish_withdrawal(const std::string& uuid, pappl_printer_t* printer) {
  papplPrinterDelete(printer);
  close_devices_left_open(device_uri(uuid));
  withdrawing_.erase(uuid);
  // Posting this was the waiting thread's last step.
  if (auto it = withdrawals_.find(uuid); it != withdrawals_.end()) {
    it->second.join();
    withdrawals_.erase(it);
  }
  QV_LOG(log_verbose, "IPP printer '%s' deleted", uuid.c_str());
  const std::vector<Json::Value> wanted = wanted_;
  offer(wanted);
}

}  // namespace quorvane::print_service
