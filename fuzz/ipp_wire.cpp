#include "fuzz/ipp_wire.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quorvane::fuzz {
namespace {

constexpr uint8_t end_of_attributes = 0x03;

void put16(std::string& out, size_t value) {
  out.push_back(static_cast<char>((value >> 8) & 0xff));
  out.push_back(static_cast<char>(value & 0xff));
}

uint32_t get(std::string_view bytes, size_t at, size_t count) {
  uint32_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// Whether the header line `line` is the field `name` (case ignored), with its value in `value`.
bool field_is(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      strncasecmp(line.data(), name.data(), name.size()) != 0) {
    return false;
  }
  value = line.substr(name.size() + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  return true;
}

// Decodes a chunked body starting at `bytes`, as far as it goes: a chunk cut short gives what is there.
// False when a chunk's size does not read.
bool read_chunks(std::string_view bytes, std::string& body) {
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string size_text(bytes.substr(at, end - at));
    char* after = nullptr;
    const unsigned long long size = std::strtoull(size_text.c_str(), &after, 16);
    if (after == size_text.c_str()) return false;
    at = std::min(end + 2, bytes.size());
    if (size == 0) break;
    body.append(bytes.substr(at, std::min<unsigned long long>(size, bytes.size() - at)));
    at = std::min<size_t>(at + std::min<unsigned long long>(size, bytes.size() - at) + 2, bytes.size());
  }
  return true;
}

}  // namespace

bool read_ipp(std::string_view bytes, ipp_message& message) {
  if (bytes.size() < 9) return false;
  message = ipp_message();
  message.major = static_cast<uint8_t>(bytes[0]);
  message.minor = static_cast<uint8_t>(bytes[1]);
  message.operation = static_cast<uint16_t>(get(bytes, 2, 2));
  message.request_id = get(bytes, 4, 4);
  size_t at = 8;
  while (at < bytes.size()) {
    const auto tag = static_cast<uint8_t>(bytes[at++]);
    if (tag == end_of_attributes) {
      message.document = std::string(bytes.substr(at));
      return true;
    }
    ipp_entry entry;
    entry.tag = tag;
    if (!entry.delimiter()) {
      // Extended tags (0x7f) carry four more tag bytes in the value; they are kept as value bytes.
      if (bytes.size() - at < 2) return false;
      const size_t name_length = get(bytes, at, 2);
      at += 2;
      if (bytes.size() - at < name_length + 2) return false;
      entry.name = std::string(bytes.substr(at, name_length));
      at += name_length;
      const size_t value_length = get(bytes, at, 2);
      at += 2;
      if (bytes.size() - at < value_length) return false;
      entry.value = std::string(bytes.substr(at, value_length));
      at += value_length;
    }
    message.entries.push_back(std::move(entry));
  }
  return false;
}

std::string write_ipp(const ipp_message& message) {
  std::string out;
  out.push_back(static_cast<char>(message.major));
  out.push_back(static_cast<char>(message.minor));
  put16(out, message.operation);
  put16(out, message.request_id >> 16);
  put16(out, message.request_id & 0xffff);
  for (const ipp_entry& entry : message.entries) {
    out.push_back(static_cast<char>(entry.tag));
    if (entry.delimiter()) continue;
    // Longer names and values are cut to what a length of 16 bits can say.
    const size_t name_length = std::min<size_t>(entry.name.size(), 0xffff);
    const size_t value_length = std::min<size_t>(entry.value.size(), 0xffff);
    put16(out, name_length);
    out.append(entry.name, 0, name_length);
    put16(out, value_length);
    out.append(entry.value, 0, value_length);
  }
  out.push_back(static_cast<char>(end_of_attributes));
  out += message.document;
  return out;
}

bool read_http(std::string_view bytes, http_request& request) {
  const size_t head_end = bytes.find("\r\n\r\n");
  if (head_end == std::string_view::npos) return false;
  request = http_request();
  bool chunked = false;
  int64_t length = -1;
  std::string_view head = bytes.substr(0, head_end + 2);
  while (!head.empty()) {
    const size_t line_end = head.find("\r\n");
    const std::string_view line = head.substr(0, line_end);
    head.remove_prefix(line_end + 2);
    std::string_view value;
    if (field_is(line, "Content-Length", value)) {
      length = std::strtoll(std::string(value).c_str(), nullptr, 10);
      continue;
    }
    if (field_is(line, "Transfer-Encoding", value)) {
      chunked = value.substr(0, 7) == "chunked";
      continue;
    }
    request.head.append(line);
    request.head.append("\r\n");
  }
  const std::string_view rest = bytes.substr(head_end + 4);
  if (chunked) return read_chunks(rest, request.body);
  if (length < 0) return false;
  request.body = std::string(rest.substr(0, std::min<uint64_t>(static_cast<uint64_t>(length), rest.size())));
  return true;
}

std::string write_http(const http_request& request, const http_framing& framing) {
  std::string out = request.head;
  if (!framing.chunked) {
    const int64_t length = static_cast<int64_t>(request.body.size()) + framing.length_error;
    out += "Content-Length: " + std::to_string(std::max<int64_t>(length, 0)) + "\r\n\r\n";
    return out + request.body;
  }
  out += "Transfer-Encoding: chunked\r\n\r\n";
  size_t at = 0;
  for (size_t i = 0; at < request.body.size(); ++i) {
    size_t size =
        framing.chunk_sizes.empty() ? 0 : framing.chunk_sizes[std::min(i, framing.chunk_sizes.size() - 1)];
    if (size == 0 || size > request.body.size() - at) size = request.body.size() - at;
    char text[32];
    std::snprintf(text, sizeof(text), "%zx\r\n", size);
    out += text;
    out.append(request.body, at, size);
    out += "\r\n";
    at += size;
  }
  if (framing.last_chunk) out += "0\r\n\r\n";
  return out;
}

std::string ipp_integer(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

ipp_message ipp_request(uint16_t operation) {
  ipp_message m;
  m.operation = operation;
  m.entries = {{0x01, "", ""},
               {0x47, "attributes-charset", "utf-8"},
               {0x48, "attributes-natural-language", "en"},
               {0x45, "printer-uri", "ipp://localhost" + printer_resource()}};
  return m;
}

std::string printer_resource() {
  return "/ipp/print/" + std::string(printer_uuid);
}

std::string ipp_post_head(const std::string& host, const std::string& resource) {
  return "POST " + resource + " HTTP/1.1\r\nHost: " + host + "\r\nContent-Type: application/ipp\r\n";
}

std::vector<std::string_view> split_requests(std::string_view input, size_t limit) {
  std::vector<std::string_view> requests;
  while (requests.size() < limit) {
    const size_t end = input.find(request_separator);
    requests.push_back(input.substr(0, end));
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + request_separator.size());
  }
  return requests;
}

}  // namespace quorvane::fuzz
