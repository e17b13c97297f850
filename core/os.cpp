#include "core/os.h"

#include <sys/random.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <uriparser/Uri.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace quorvane {

std::string to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size()) return {};
      const uint32_t low = text[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) return {};
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return {};
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string from_utf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    uint32_t c = *p++;
    int extra = 0;
    uint32_t min = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, c &= 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, c &= 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, c &= 0x07;
    } else {
      return {};
    }
    if (end - p < extra) return {};
    for (int i = 0; i < extra; ++i) {
      const uint32_t next = *p++;
      if ((next & 0xC0) != 0x80) return {};
      c = (c << 6) | (next & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

wide_string host_name() {
  // Filled once, on the UI thread, like every caller's use.
  static std::u16string cache;
  if (cache.empty()) {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0]) cache = from_utf8(name);
    if (cache.empty()) cache = u"localhost";
  }
  return wide_string(cache);
}

uint32_t crc32(const void* data, size_t size) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string uuid_from_clock(uint64_t counter, uint32_t tick_ms) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(counter >> (8 * i));
  const uint32_t crc = crc32(bytes, sizeof bytes);
  const uint32_t upper = crc >> 16;
  char text[64];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%08x%04x", crc, upper, (crc & 0xFFFF) ^ upper,
                static_cast<unsigned>((counter >> 32) & 0xFFFF),
                static_cast<unsigned>(static_cast<uint32_t>(counter) / 4044555413u), tick_ms & 0xFFFF);
  return text;
}

std::string new_uuid() {
  unsigned char b[16];
  if (getrandom(b, sizeof b, 0) == static_cast<ssize_t>(sizeof b)) {
    b[6] = (b[6] & 0x0F) | 0x40;  // version 4
    b[8] = (b[8] & 0x3F) | 0x80;  // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
  }
  timespec now{}, boot{};
  clock_gettime(CLOCK_MONOTONIC_RAW, &now);
  clock_gettime(CLOCK_MONOTONIC, &boot);
  const uint64_t counter =
      static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
  const auto tick = static_cast<uint32_t>(boot.tv_sec * 1000 + boot.tv_nsec / 1000000);
  return uuid_from_clock(counter, tick);
}

namespace {
std::string range_text(const UriTextRangeA& range) {
  if (!range.first || !range.afterLast) return {};
  return std::string(range.first, range.afterLast);
}
}  // namespace

uri::uri(std::string text) : text_(std::move(text)) {
  if (text_.empty()) return;
  UriUriA parsed;
  const char* error = nullptr;
  if (uriParseSingleUriA(&parsed, text_.c_str(), &error) != URI_SUCCESS) return;

  scheme_ = range_text(parsed.scheme);
  host_ = range_text(parsed.hostText);
  const std::string port_text = range_text(parsed.portText);
  if (!port_text.empty()) {
    port_ = 0;
    for (char c : port_text) {
      if (c < '0' || c > '9' || port_ > 99999) break;
      port_ = port_ * 10 + (c - '0');
    }
  } else if (scheme_ == "http") {
    port_ = 80;
  } else if (scheme_ == "https") {
    port_ = 443;
  }
  for (const UriPathSegmentA* segment = parsed.pathHead; segment; segment = segment->next) {
    path_ += '/';
    path_ += range_text(segment->text);
  }
  if (parsed.query.first && parsed.query.afterLast) {
    UriQueryListA* items = nullptr;
    int count = 0;
    if (uriDissectQueryMallocA(&items, &count, parsed.query.first, parsed.query.afterLast) == URI_SUCCESS) {
      for (const UriQueryListA* item = items; item; item = item->next) {
        query_.emplace_back(item->key ? item->key : "", item->value ? item->value : "");
      }
      uriFreeQueryListA(items);
    }
  }
  uriFreeUriMembersA(&parsed);
}

std::string escape(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

std::string utf8_prefix(std::string_view text, size_t limit) {
  if (text.size() <= limit) return std::string(text);
  size_t cut = limit;
  // Continuation bytes (10xxxxxx) belong to the character before them.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool release_free_memory() {
#if defined(__GLIBC__)
  return malloc_trim(/*pad=*/0) != 0;
#else
  return false;
#endif
}

}  // namespace quorvane
