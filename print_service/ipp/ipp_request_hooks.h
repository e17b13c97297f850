// The points where the service takes part in the IPP requests that PAPPL 1.3 serves. PAPPL offers no
// callback before it runs an operation, nor one when it accepts a job; it serves every request through a
// fixed series of libcups calls on the connection's own thread (ippRead of the request, ippNewResponse,
// httpRead2 of the document, ippLength of the finished response). This program defines those functions,
// so the dynamic linker binds PAPPL's calls to them; each notes what the thread serves, asks the policy,
// and calls the libcups function. Calls from anyone else (the CUPS client side of the service) pass
// through untouched.
//
// It also defines libcups's raster reader (cupsRasterOpenIO, cupsRasterReadHeader2, cupsRasterReadPixels,
// cupsRasterClose): on the thread of a request with a document, PAPPL's raster stream gets the page headers
// libcups would give and each line's codes are read without decoding pixels, which the service does not
// use (it converts the document from its copy, see document_copy). Other raster streams are libcups's.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::print_service {

/// What the service decides about the IPP requests PAPPL serves. Every call comes on the PAPPL client
/// thread that serves the request, with no lock of PAPPL's held.
class ipp_request_policy {
 public:
  virtual ~ipp_request_policy() = default;

  /// Before PAPPL runs `request` (read from `http`): IPP_STATUS_OK lets it run; an error status answers the
  /// request with that status and `message` at once and PAPPL runs nothing of it. A body that follows is not
  /// read: the answer says "Connection: close", and the connection is closed once the device has had a
  /// moment to read it (what it sends meanwhile is dropped). `unsupported` may name the attribute refused,
  /// which the answer then returns (a collection by its name only, with the out-of-band value unsupported).
  virtual ipp_status_t admit(ipp_t* request, http_t* http, std::string& message,
                             ipp_attribute_t*& unsupported) = 0;

  /// Before PAPPL reads up to `bytes` more bytes of the document of the request read from `http`: true lets
  /// it. False makes the read fail (PAPPL aborts the job and removes its file); the request is answered with
  /// `status` and `message` instead of PAPPL's own error.
  virtual bool document_room(http_t* http, uint64_t bytes, ipp_status_t& status, std::string& message) = 0;

  /// PAPPL begins to read the request's document, which starts with `head` (its first 4 bytes or more):
  /// a descriptor open for writing that receives a copy of every byte of the document that PAPPL reads,
  /// from the first, or -1 for none. The hooks close it when the request is answered unless
  /// take_document_copy took it first.
  virtual int document_copy(std::string_view head) = 0;

  /// PAPPL has run `request` (read from `http`) and `response` is complete; the device receives it once
  /// this returns. The policy may change the response's status and attributes.
  virtual void before_response(ipp_t* request, ipp_t* response, http_t* http) = 0;
};

/// Makes `policy` decide about the requests PAPPL serves from now on; null: none (requests run as PAPPL
/// runs them).
void set_ipp_request_policy(ipp_request_policy* policy);

/// Takes the copy of the document that PAPPL has read so far for the request this thread serves (see
/// ipp_request_policy::document_copy): the caller owns the descriptor. -1 when there is none or when a
/// write to it failed.
int take_document_copy();

/// Why the service's raster reader stopped the raster document of the request this thread serves before
/// its end ("page 2: its cupsColorOrder is 7, not 0 to 2", "the raster document declares 9 pages and ends
/// after 3", or the connection ending before the document's end), or "" when it read the document to its
/// end (or the request has none).
std::string raster_problem();

/// Shuts down (both ways) every connection PAPPL has accepted and not closed: a client thread waiting for a
/// request or reading a document ends (the document's job is aborted) instead of holding PAPPL's stop.
void end_ipp_connections();

/// Waits until every client thread PAPPL started for an accepted connection has ended, at most `limit`;
/// false when some still run (PAPPL's system must then not be deleted, they use it).
bool wait_for_ipp_clients(std::chrono::milliseconds limit);

/// Listening sockets that PAPPL's next listeners take instead of binding their own: a listener of the
/// same address family and port gets that socket, and PAPPL owns it from then on. The sockets not taken
/// are closed when the next call replaces them (an empty list closes them all).
void set_ipp_listen_sockets(std::vector<int> sockets);

/// Keeps the TLS certificate and key that libcups makes for PAPPL's server in `folder` (made with mode
/// 0700 when missing) instead of libcups's default, ~/.cups/ssl or /etc/cups/ssl. Call before the PAPPL
/// system is created.
void set_ipp_credentials_folder(const std::string& folder);

/// Answers the request the calling thread serves (from the policy's `admit` on) with HTTP `status` instead
/// of 200 OK, its IPP response still the body: a 401 carries a Basic challenge for `realm`, and a 426 names
/// TLS as the upgrade. HTTP_STATUS_OK leaves the answer as PAPPL gives it.
void set_ipp_http_status(http_status_t status, const std::string& realm);

/// Ends the service's side of `http` after what it wrote: the answer is flushed, the side shut, and what the
/// device still sends is read and dropped until it closes its side, is quiet for a moment or a few seconds
/// have passed, so that closing with unread data does not reset the connection before the device has read
/// the answer. The connection is closed by its owner afterwards.
void close_gently(http_t* http);

/// Sets the response's status code and status-message, replacing what PAPPL put there.
void set_ipp_response_status(ipp_t* response, ipp_status_t status, const std::string& message);

}  // namespace quorvane::print_service
