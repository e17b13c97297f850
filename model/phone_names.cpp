#include "model/phone_names.h"

#include <cctype>

#include "core/os.h"

namespace quorvane::model {
namespace {

// Marks after which a person may cut a name (the mark stays, unless it then ends the name).
bool is_break_mark(char c) {
  return c == '-' || c == ',' || c == ';' || c == '/' || c == ')' || c == '_' || c == '.';
}

// Marks a shortened name should not end with.
bool is_trailing_mark(char c) {
  return c == ' ' || c == '-' || c == ',' || c == ';' || c == '/' || c == '(' || c == '@' || c == '_' ||
         c == '.' || c == ':' || c == '&' || c == '+';
}

std::string without_hidden_prefix(std::string_view text) {
  // U+E000 to U+F8FF take three bytes beginning 0xEE, or 0xEF followed by 0x80 to 0xA3.
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  if (text.size() >= 3 && (byte(0) == 0xee || (byte(0) == 0xef && byte(1) >= 0x80 && byte(1) <= 0xa3)))
    text.remove_prefix(3);
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

std::string shortened(const std::string& name) {
  if (name.size() <= dnssd_name_limit) return name;
  std::string cut = utf8_prefix(name, dnssd_name_limit);
  // The last break inside the prefix: before a space, or after a mark; a break in the first half would
  // throw away more than a person would, so such a name is cut at a character instead.
  size_t end = std::string::npos;
  for (size_t i = cut.size(); i > dnssd_name_limit / 2; --i) {
    if (name[i] == ' ' || is_break_mark(name[i - 1])) {
      end = i;
      break;
    }
  }
  if (end != std::string::npos) cut.resize(end);
  while (!cut.empty() && is_trailing_mark(cut.back())) cut.pop_back();
  // A name that is all marks keeps its cut at a character instead.
  return cut.empty() ? utf8_prefix(name, dnssd_name_limit) : cut;
}

// The display name without its hidden prefix, else `name`, else `uuid`.
std::string chosen_name(std::string_view display_name, std::string_view name, std::string_view uuid) {
  std::string chosen = without_hidden_prefix(display_name);
  if (chosen.empty()) chosen = std::string(name);
  if (chosen.empty()) chosen = std::string(uuid);
  return chosen;
}

}  // namespace

std::string phone_name(std::string_view display_name, std::string_view name, std::string_view uuid) {
  return shortened(chosen_name(display_name, name, uuid));
}

std::string phone_description(std::string_view display_name, std::string_view name, std::string_view uuid) {
  return utf8_prefix(chosen_name(display_name, name, uuid), description_limit);
}

std::string printer_path(std::string_view uuid) {
  const bool digit = !uuid.empty() && std::isdigit(static_cast<unsigned char>(uuid.front()));
  return (digit ? "_" : "") + std::string(uuid);
}

std::string url_host(std::string_view host) {
  if (host.find(':') == std::string_view::npos || host.front() == '[') return std::string(host);
  return "[" + std::string(host) + "]";
}

std::string printer_ipp_uri(std::string_view scheme, std::string_view host, uint16_t port,
                            std::string_view uuid) {
  return std::string(scheme) + "://" + url_host(host) + ":" + std::to_string(port) + "/ipp/print/" +
         printer_path(uuid);
}

std::string printer_page_url(std::string_view host, uint16_t port, std::string_view uuid) {
  return "http://" + url_host(host) + ":" + std::to_string(port) + "/printers/" + printer_path(uuid);
}

}  // namespace quorvane::model
