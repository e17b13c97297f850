// IPP requests written byte by byte and sent over a plain socket, for the tests of what a hostile device
// sends: requests libcups would never write (a collection member without a value, a wrong value type) and
// HTTP bodies that end before what they declare.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "service_process.h"

namespace quorvane::print_service::testing {

/// The bytes of one IPP request (version 2.0), attribute by attribute as they go on the wire.
class request_bytes {
 public:
  /// A request for `op` with the usual operation attributes for `printer_uri` (charset, language,
  /// printer-uri, requesting-user-name).
  /// (`op` is an integer: a device may send any 16-bit number, which ipp_op_t cannot hold.)
  request_bytes(int op, const std::string& printer_uri, int32_t request_id = 1) {
    bytes_ += std::string("\x02\x00", 2);
    u16(static_cast<uint16_t>(op));
    u32(static_cast<uint32_t>(request_id));
    group(IPP_TAG_OPERATION);
    value(IPP_TAG_CHARSET, "attributes-charset", "utf-8");
    value(IPP_TAG_LANGUAGE, "attributes-natural-language", "en");
    value(IPP_TAG_URI, "printer-uri", printer_uri);
    value(IPP_TAG_NAME, "requesting-user-name", "phone-user");
  }

  /// Starts the attribute group `tag`.
  request_bytes& group(ipp_tag_t tag) {
    bytes_ += static_cast<char>(tag);
    return *this;
  }
  /// One value of type `tag`: a new attribute `name`, or a further value of the last one when `name` is "".
  request_bytes& value(ipp_tag_t tag, std::string_view name, std::string_view value) {
    bytes_ += static_cast<char>(tag);
    u16(static_cast<uint16_t>(name.size()));
    bytes_ += name;
    u16(static_cast<uint16_t>(value.size()));
    bytes_ += value;
    return *this;
  }
  request_bytes& integer(std::string_view name, int32_t number, ipp_tag_t tag = IPP_TAG_INTEGER) {
    std::string raw;
    for (int shift = 24; shift >= 0; shift -= 8)
      raw += static_cast<char>((static_cast<uint32_t>(number) >> shift) & 0xff);
    return value(tag, name, raw);
  }
  request_bytes& boolean(std::string_view name, bool on) {
    return value(IPP_TAG_BOOLEAN, name, on ? "\x01" : std::string_view("\x00", 1));
  }
  /// begCollection for `name` ("" inside a collection, after member()).
  request_bytes& begin_collection(std::string_view name) { return value(IPP_TAG_BEGIN_COLLECTION, name, ""); }
  /// memberAttrName: the next value (or nothing, for a member without one) belongs to the member `name`.
  request_bytes& member(std::string_view name) { return value(IPP_TAG_MEMBERNAME, "", name); }
  request_bytes& end_collection() { return value(IPP_TAG_END_COLLECTION, "", ""); }

  /// The request with its end-of-attributes tag, followed by `document`.
  std::string with_document(std::string_view document = {}) const {
    return bytes_ + static_cast<char>(IPP_TAG_END) + std::string(document);
  }

 private:
  void u16(uint16_t v) {
    bytes_ += static_cast<char>(v >> 8);
    bytes_ += static_cast<char>(v & 0xff);
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v >> 16));
    u16(static_cast<uint16_t>(v & 0xffff));
  }
  std::string bytes_;
};

/// An HTTP POST of `body` to the resource of `printer_uri`, with its Content-Length (or `content_length`
/// when it declares another length).
inline std::string http_post(const std::string& printer_uri, const std::string& body,
                             int64_t content_length = -1) {
  const size_t slash = printer_uri.find('/', printer_uri.find("//") + 2);
  const std::string host = printer_uri.substr(printer_uri.find("//") + 2, slash - printer_uri.find("//") - 2);
  return "POST " + printer_uri.substr(slash) + " HTTP/1.1\r\nHost: " + host +
         "\r\nContent-Type: application/ipp\r\nContent-Length: " +
         std::to_string(content_length >= 0 ? content_length : static_cast<int64_t>(body.size())) +
         "\r\n\r\n" + body;
}

/// An HTTP POST of `body` in one chunk, with the last (empty) chunk unless `last_chunk` is false.
inline std::string http_post_chunked(const std::string& printer_uri, const std::string& body,
                                     bool last_chunk = true) {
  const size_t slash = printer_uri.find('/', printer_uri.find("//") + 2);
  const std::string host = printer_uri.substr(printer_uri.find("//") + 2, slash - printer_uri.find("//") - 2);
  char size[32];
  std::snprintf(size, sizeof(size), "%zx\r\n", body.size());
  return "POST " + printer_uri.substr(slash) + " HTTP/1.1\r\nHost: " + host +
         "\r\nContent-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n" + size + body + "\r\n" +
         (last_chunk ? "0\r\n\r\n" : "");
}

/// An IPP response as the device received it (null when none came).
using ipp_response = std::unique_ptr<ipp_t, decltype(&ippDelete)>;

/// A connection of a device to 127.0.0.1:`port`, over which raw bytes go and IPP answers come back.
class raw_connection {
 public:
  explicit raw_connection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~raw_connection() { close(); }
  raw_connection(const raw_connection&) = delete;
  raw_connection& operator=(const raw_connection&) = delete;

  bool connected() const { return fd_ >= 0; }

  /// Sends every byte of `bytes`; false when the connection refused them.
  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  /// Closes the connection (a device that goes away).
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  /// Reads one HTTP response (with a Content-Length or chunked body) and its IPP message; waits at most
  /// `limit`. Null when the connection ended or the limit passed first; `http_status` gets the status line's
  /// code (0 for none).
  ipp_response receive(int& http_status, std::chrono::milliseconds limit = event_bound) {
    http_status = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    size_t header_end = std::string::npos;
    while ((header_end = input_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(deadline)) return {nullptr, &ippDelete};
    }
    const std::string head = input_.substr(0, header_end + 2);
    input_.erase(0, header_end + 4);
    std::sscanf(head.c_str(), "HTTP/%*d.%*d %d", &http_status);
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string body;
    if (lower.find("transfer-encoding: chunked") != std::string::npos) {
      for (;;) {
        size_t line_end;
        while ((line_end = input_.find("\r\n")) == std::string::npos) {
          if (!fill(deadline)) return {nullptr, &ippDelete};
        }
        const size_t size = std::strtoul(input_.c_str(), nullptr, 16);
        while (input_.size() < line_end + 2 + size + 2) {
          if (!fill(deadline)) return {nullptr, &ippDelete};
        }
        body += input_.substr(line_end + 2, size);
        input_.erase(0, line_end + 2 + size + 2);
        if (size == 0) break;
      }
    } else {
      const size_t at = lower.find("content-length:");
      const size_t length = at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 15, nullptr, 10);
      while (input_.size() < length) {
        if (!fill(deadline)) return {nullptr, &ippDelete};
      }
      body = input_.substr(0, length);
      input_.erase(0, length);
    }
    ipp_response response(ippNew(), &ippDelete);
    struct reader {
      std::string_view rest;
    } source{body};
    const ipp_state_t state = ippReadIO(
        &source,
        [](void* context, ipp_uchar_t* buffer, size_t bytes) -> ssize_t {
          auto* r = static_cast<reader*>(context);
          const size_t n = std::min(bytes, r->rest.size());
          std::memcpy(buffer, r->rest.data(), n);
          r->rest.remove_prefix(n);
          return static_cast<ssize_t>(n);
        },
        1, nullptr, response.get());
    if (state != IPP_STATE_DATA) response.reset();
    return response;
  }

  /// Whether the service closed the connection within `limit` (bytes it sends meanwhile are dropped).
  bool closed_by_peer(std::chrono::milliseconds limit = event_bound) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (fill(deadline)) input_.clear();
    return ended_;
  }

 private:
  // Reads what arrives before `deadline`; false at the end of the connection or the deadline.
  bool fill(std::chrono::steady_clock::time_point deadline) {
    if (fd_ < 0 || ended_) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[65536];
    const ssize_t got = ::recv(fd_, buffer, sizeof(buffer), 0);
    if (got <= 0) {
      ended_ = true;
      return false;
    }
    input_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  int fd_ = -1;
  bool ended_ = false;
  std::string input_;
};

/// The attribute `name` of `response` in `group` (any group for IPP_TAG_ZERO), or null.
inline ipp_attribute_t* find_attribute(ipp_t* response, const char* name, ipp_tag_t group = IPP_TAG_ZERO) {
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    if (!ippGetName(a) || std::strcmp(ippGetName(a), name) != 0) continue;
    if (group == IPP_TAG_ZERO || ippGetGroupTag(a) == group) return a;
  }
  return nullptr;
}

/// The response's status-message ("" when it has none).
inline std::string status_message(ipp_t* response) {
  const char* text = ippGetString(find_attribute(response, "status-message"), 0, nullptr);
  return text ? text : "";
}

}  // namespace quorvane::print_service::testing
