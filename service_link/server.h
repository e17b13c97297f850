// The console's view of the local print service: six asynchronous requests, and the delegate that hears
// what the service sends on its own.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include <json/value.h>

#include "core/ref_counted.h"
#include "model/device.h"
#include "model/job.h"
#include "model/printer.h"
#include "service_link/print_completion.h"

namespace quorvane {

/// The print service as the console uses it. Every operation sends one request and reports through its
/// callback, on the run loop's thread and never from inside the operation: with the service's status (0
/// success, its error code otherwise) when the answer arrives, and with 10 at every close of the connection
/// while the request is outstanding.
class server {
 public:
  /// Receives the status of one request.
  using status_callback = std::function<void(int32_t status)>;
  /// Receives the status and the attributes object (null unless the service sent one); the value lives only
  /// until the callback returns.
  using attributes_callback = std::function<void(int32_t status, Json::Value& attributes)>;

  /// Receives what the service sends on its own: list notifications and print requests.
  class delegate {
   public:
    /// The service added or changed these printers (a printer with `exists` false is gone).
    virtual void printersWereUpdated(std::list<smart_ptr<model::printer>>& printers) = 0;
    /// The service removed these printers.
    virtual void printersWereRemoved(std::list<smart_ptr<model::printer>>& printers) = 0;
    /// The service added or changed these client devices.
    virtual void devicesWereUpdated(std::list<smart_ptr<model::device>>& devices) = 0;
    /// The service removed these client devices.
    virtual void devicesWereRemoved(std::list<smart_ptr<model::device>>& devices) = 0;
    /// Deliver `job` for `printer`, then call `completion` exactly once, on the run loop's thread.
    virtual void print(smart_ptr<model::printer>& printer, smart_ptr<model::job>& job,
                       print_completion completion) = 0;

   protected:
    /// Not deleted through this interface.
    ~delegate() = default;
  };

  /// Sends "authenticate" with [token].
  virtual void authenticate(const std::string& token, status_callback callback) = 0;
  /// Sends "updatePrinter" with [the printer's JSON].
  virtual void updatePrinter(smart_ptr<model::printer> printer, status_callback callback) = 0;
  /// Sends "removePrinter" with [the printer's JSON].
  virtual void removePrinter(smart_ptr<model::printer> printer, status_callback callback) = 0;
  /// Sends "attributes" without params; the callback gets element 1 of the result.
  virtual void attributes(attributes_callback callback) = 0;
  /// Sends "saveAttributes" with [a copy of `attributes`].
  virtual void saveAttributes(const Json::Value& attributes, status_callback callback) = 0;
  /// Sends "observe" with [enable].
  virtual void observe(bool enable, status_callback callback) = 0;

 protected:
  /// Not deleted through this interface.
  ~server() = default;
};

}  // namespace quorvane
