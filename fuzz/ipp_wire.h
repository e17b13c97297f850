// HTTP requests carrying IPP messages as the IPP fuzz target takes them: read into their parts (the header
// fields, the IPP message attribute by attribute, the document after it) and written back with a framing of
// the caller's choice, so that a mutator can change one attribute, tag or chunk and keep the rest valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::fuzz {

/// What separates the requests of one fuzz input: each is sent on a connection of its own, in order.
inline constexpr std::string_view request_separator = "\r\n#next-connection#\r\n";

/// Four bytes that the target replaces, in a request after the first, with the last job-id an answer
/// carried (as IPP's big-endian integer), so that Send-Document, Cancel-Job and Get-Job-Attributes reach
/// the job a Create-Job or Print-Job made in the same input.
inline constexpr std::string_view job_id_placeholder = "\x7fJID";

/// The uuid of the printer the target's service offers (a letter first, so PAPPL's resource is
/// /ipp/print/<uuid>).
inline constexpr std::string_view printer_uuid = "f0220fa5-3c1e-4b7a-9d2e-6a5b4c3d2e1f";

/// One entry of an IPP message's attribute list as it is on the wire: a delimiter tag alone (a group's
/// start; below 0x10), or a value tag with its name (empty for a further value of the same attribute, a
/// collection's end or member name) and its value bytes.
struct ipp_entry {
  uint8_t tag = 0;
  std::string name;
  std::string value;

  /// Whether the entry is a group delimiter (no name, no value on the wire).
  bool delimiter() const { return tag < 0x10; }
};

/// An IPP request: version, operation, request id, the attribute list up to the end tag, and the document
/// that follows.
struct ipp_message {
  uint8_t major = 2;
  uint8_t minor = 0;
  uint16_t operation = 0;
  uint32_t request_id = 1;
  std::vector<ipp_entry> entries;  // without the end-of-attributes tag
  std::string document;
};

/// An HTTP request: its request line and header fields (each ending CRLF, no Content-Length or
/// Transfer-Encoding field, no empty line) and its body.
struct http_request {
  std::string head;
  std::string body;
};

/// How `write_http` frames a body.
struct http_framing {
  bool chunked = false;
  std::vector<size_t>
      chunk_sizes;           // chunked: the sizes of the chunks in turn, the last repeated; 0 or none: one
  bool last_chunk = true;    // chunked: the final 0-size chunk is sent
  int64_t length_error = 0;  // added to the Content-Length of an unchunked body
};

/// Reads `bytes` as an IPP message. False when the attribute list does not parse to its end tag.
bool read_ipp(std::string_view bytes, ipp_message& message);

/// `message` as it is sent.
std::string write_ipp(const ipp_message& message);

/// Reads `bytes` as one HTTP request whose body has a Content-Length or chunked framing, decoded as far as
/// the bytes go (a body cut short gives what is there; bytes after it are ignored). False when there is no
/// complete head, no framing, or a chunk size that does not read.
bool read_http(std::string_view bytes, http_request& request);

/// `request` with its body framed as `framing` says.
std::string write_http(const http_request& request, const http_framing& framing);

/// `value` as IPP's 4-byte big-endian integer.
std::string ipp_integer(uint32_t value);

/// A request of `operation` with the operation attributes every request begins with: attributes-charset,
/// attributes-natural-language and printer-uri (the target's printer).
ipp_message ipp_request(uint16_t operation);

/// The resource of the target's printer, /ipp/print/<printer_uuid>.
std::string printer_resource();

/// The request head a device sends for an IPP request to `resource` on `host`.
std::string ipp_post_head(const std::string& host, const std::string& resource);

/// Splits a fuzz input into its requests (see `request_separator`); at most `limit` of them.
std::vector<std::string_view> split_requests(std::string_view input, size_t limit);

}  // namespace quorvane::fuzz
