// Documents as the record of delivered jobs lists them, for the tests of Recent Documents.
#pragma once

#include <cstdint>
#include <string>

#include "model/values.h"
#include "spooler/delivered_jobs.h"

namespace quorvane::testing {

/// A document saved by the printer "Inbox" (with the console's hidden mark) from anna's phone at `when`
/// into `folder` as NAME.pdf.
inline delivered_document saved_document(const std::string& uuid, const std::string& name, int64_t when,
                                         const std::string& folder = "/home/anna/Inbox") {
  delivered_document d;
  d.uuid = uuid;
  d.delivered = when;
  d.document = name;
  d.user = "anna";
  d.device = "192.168.1.23";
  d.printer = "\xee\x80\x8cInbox";
  d.action = model::action_none;
  d.file = folder + "/" + name + ".pdf";
  d.format = "application/pdf";
  return d;
}

}  // namespace quorvane::testing
