// The job record: one print job that a device sent to one of the printers.
#pragma once

#include <cstdint>
#include <string>

#include "core/os.h"
#include "database/object.h"
#include "model/media.h"
#include "model/object.h"
#include "model/values.h"

namespace quorvane::model {

/// One print job; built from the second parameter of a "print" request, stored in the table "job".
///
/// The constructor's defaults are not `readJSON`'s: a job read from {} has `copies` 0, not 1.
class job final : public object, public database::object {
 public:
  static constexpr const char* table_name = "job";

  /// "untitled" by "anonymous", "application/octet-stream", quality 4, colour, orientation 3, one copy, fit
  /// to page, no media, state 5 (processing); no row, clean.
  job();
  /// Saves the record first when it has a row and is dirty.
  ~job() override;
  // A copy would write the same row twice on release: records are shared through smart pointers instead.
  /// Not copyable.
  job(const job&) = delete;
  /// Not assignable.
  job& operator=(const job&) = delete;

  /// Creates the table "job" and its indexes; false when the table is missing afterwards (the
  /// index statements' results are ignored).
  static bool createTable();

  /// Sets every field's key on `out`.
  void writeJSON(Json::Value& out) const override;
  /// Sets every field from `in`, with the read defaults for missing keys.
  void readJSON(const Json::Value& in) override;
  /// Returns "job".
  const char* tableName() const override { return table_name; }
  /// Writes a dirty record (inserting it when it has no row); true when clean afterwards, false when the
  /// statement failed.
  bool save() override;

  // ---- read access

  /// The sending device's address, carried unchanged.
  const std::string& deviceAddress() const { return deviceAddress_; }
  /// The sending device's id.
  const wide_string& deviceID() const { return deviceID_; }
  /// The id of the printer the job was sent to.
  const std::string& printerID() const { return printerID_; }
  /// The number of the job in the system's print queue (0 none).
  int32_t platformID() const { return platformID_; }
  /// The document's title.
  const wide_string& name() const { return name_; }
  /// The sending user's name.
  const wide_string& user() const { return user_; }
  /// The document's MIME type.
  const wide_string& format() const { return format_; }
  /// The service's print quality, carried unchanged.
  int32_t printQuality() const { return printQuality_; }
  /// First page to print (0: from the start).
  int32_t firstPage() const { return firstPage_; }
  /// Last page to print (0: to the end).
  int32_t lastPage() const { return lastPage_; }
  /// Whether the job asks for colour.
  bool isColor() const { return isColor_; }
  /// A `job_orientation`: 4 and 5 print landscape, anything else portrait.
  int32_t orientation() const { return orientation_; }
  /// A `job_duplex`: 1 and 2 print on both sides, anything else on one.
  int32_t duplex() const { return duplex_; }
  /// The number of copies.
  int32_t copies() const { return copies_; }
  /// Whether to fit the document to the page (carried unchanged).
  bool fitToPage() const { return fitToPage_; }
  /// The paper size asked for; null when none was given.
  const media_ptr& media() const { return media_; }
  /// The job state (`job_state`).
  int32_t state() const { return state_; }
  /// Path of the document file the service received.
  const wide_string& filename() const { return filename_; }
  /// Why the console's delivery of the job failed, as the spooler found it (a value of `delivery_failure`,
  /// spooler/delivery_failure.h; 0 when it did not fail or said no more than its status). Held in memory
  /// only: neither the JSON nor the table carries it.
  int32_t deliveryFailure() const { return deliveryFailure_; }
  /// The service's creation time, carried unchanged.
  int64_t timeAtCreation() const { return timeAtCreation_; }

  // ---- setters: each marks the record dirty when the value changes (media always)

  /// Sets the device address.
  void setDeviceAddress(const std::string& value);
  /// Sets the device id.
  void setDeviceID(const wide_string& value);
  /// Sets the printer id.
  void setPrinterID(const std::string& value);
  /// Sets the system print queue's job number.
  void setPlatformID(int32_t value);
  /// Sets the document's title.
  void setName(const wide_string& value);
  /// Sets the sending user's name.
  void setUser(const wide_string& value);
  /// Sets the MIME type.
  void setFormat(const wide_string& value);
  /// Sets the print quality.
  void setPrintQuality(int32_t value);
  /// Sets the first page.
  void setFirstPage(int32_t value);
  /// Sets the last page.
  void setLastPage(int32_t value);
  /// Sets whether colour is asked for.
  void setIsColor(bool value);
  /// Sets the orientation.
  void setOrientation(int32_t value);
  /// Sets the duplex mode.
  void setDuplex(int32_t value);
  /// Sets the number of copies.
  void setCopies(int32_t value);
  /// Sets whether to fit the document to the page.
  void setFitToPage(bool value);
  /// Replaces the paper size and marks the record dirty.
  void setMedia(media_ptr value);
  /// Sets the job state.
  void setState(int32_t value);
  /// Sets the document file's path.
  void setFilename(const wide_string& value);
  /// Sets the creation time.
  void setTimeAtCreation(int64_t value);
  /// Sets why the delivery failed (the record stays clean: the value is not stored).
  void setDeliveryFailure(int32_t value) { deliveryFailure_ = value; }

 private:
  std::string deviceAddress_;
  wide_string deviceID_;
  std::string printerID_;
  int32_t platformID_ = 0;
  wide_string name_;
  wide_string user_;
  wide_string format_;
  int32_t printQuality_ = 4;
  int32_t firstPage_ = 0;
  int32_t lastPage_ = 0;
  bool isColor_ = true;
  int32_t orientation_ = orientation_portrait;
  int32_t duplex_ = 0;
  int32_t copies_ = 1;
  bool fitToPage_ = true;
  media_ptr media_;
  int32_t state_ = job_state_processing;
  wide_string filename_;
  int64_t timeAtCreation_ = 0;
  int32_t deliveryFailure_ = 0;
};

using job_ptr = smart_ptr<job>;

}  // namespace quorvane::model
