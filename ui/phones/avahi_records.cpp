#include "ui/phones/avahi_records.h"

#include <cctype>
#include <cstdlib>

namespace quorvane::phones {
namespace {

// The fields of a line split at ";" (avahi escapes a ";" inside a name, so every ";" separates).
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(';', start);
    fields.push_back(
        line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// The quoted strings of a TXT field: "a=b" "c" ... (a quote or backslash inside is escaped).
std::map<std::string, std::string> txt_of(std::string_view field) {
  std::map<std::string, std::string> keys;
  size_t i = 0;
  while (i < field.size()) {
    if (field[i] != '"') {
      ++i;
      continue;
    }
    std::string raw;
    for (++i; i < field.size() && field[i] != '"'; ++i) {
      if (field[i] == '\\' && i + 1 < field.size()) raw += field[i++];
      raw += field[i];
    }
    ++i;  // the closing quote
    const std::string item = unescape_avahi(raw);
    const size_t equals = item.find('=');
    if (equals == std::string::npos) {
      keys.emplace(item, "");
    } else {
      keys.emplace(item.substr(0, equals), item.substr(equals + 1));
    }
  }
  return keys;
}

}  // namespace

std::string unescape_avahi(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const auto digit = [&](size_t at) {
      return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]));
    };
    if (digit(i + 1) && digit(i + 2) && digit(i + 3)) {
      const int value = (text[i + 1] - '0') * 100 + (text[i + 2] - '0') * 10 + (text[i + 3] - '0');
      if (value < 256) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += text[++i];
  }
  return out;
}

std::vector<avahi_record> parse_avahi_browse(std::string_view output) {
  std::vector<avahi_record> records;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view line = output.substr(start, end - start);
    start = end + 1;
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.size() < 6 || (fields[0] != "+" && fields[0] != "=")) continue;
    avahi_record record;
    record.interface = std::string(fields[1]);
    record.protocol = std::string(fields[2]);
    record.name = unescape_avahi(fields[3]);
    record.type = std::string(fields[4]);
    if (fields[0] == "=") {
      // A resolved line has host, address, port and TXT after the domain; a TXT string may hold a ";".
      if (fields.size() < 10) continue;
      record.resolved = true;
      record.host = unescape_avahi(fields[6]);
      record.address = std::string(fields[7]);
      record.port = std::atoi(std::string(fields[8]).c_str());
      const size_t txt_start = fields[9].data() - line.data();
      record.txt = txt_of(line.substr(txt_start));
    }
    records.push_back(std::move(record));
  }
  return records;
}

bool avahi_not_running(std::string_view errors) {
  return errors.find("Daemon not running") != std::string_view::npos;
}

}  // namespace quorvane::phones
