// Host identity and text utilities: UTF-16 text, the computer's name, UUIDs, URIs and percent-encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

/// UTF-8 text of a UTF-16 text; empty when the input is empty or not valid UTF-16.
std::string to_utf8(std::u16string_view text);

/// UTF-16 text of a UTF-8 text; empty when the input is empty or not valid UTF-8 (overlong forms,
/// surrogates and code points above U+10FFFF are invalid).
std::u16string from_utf8(std::string_view text);

/// The longest prefix of the UTF-8 `text` of at most `limit` bytes that does not end inside a character
/// (so that a name shortened to fit a limit stays valid UTF-8).
std::string utf8_prefix(std::string_view text, size_t limit);

/// UTF-16 text with a UTF-8 copy made on demand.
class wide_string {
 public:
  /// An empty text.
  wide_string() = default;

  /// The given UTF-16 text, with an empty narrow copy.
  wide_string(std::u16string text) : text_(std::move(text)) {}

  /// The given zero-terminated UTF-16 text, with an empty narrow copy.
  wide_string(const char16_t* text) : text_(text) {}

  /// A `wide_string` from UTF-8 text (empty when it is not valid UTF-8).
  static wide_string from_narrow(std::string_view utf8) { return wide_string(from_utf8(utf8)); }

  /// The UTF-16 text.
  const std::u16string& text() const { return text_; }

  /// Converts the whole text into the narrow copy and returns that copy.
  const std::string& narrow() const {
    narrow_ = to_utf8(text_);
    return narrow_;
  }

  /// True when the text is empty.
  bool empty() const { return text_.empty(); }

  /// A new `wide_string` of the two texts joined (its narrow copy empty).
  friend wide_string operator+(const wide_string& a, std::u16string_view b) {
    std::u16string joined = a.text_;
    joined.append(b);
    return wide_string(std::move(joined));
  }

  /// True when the two UTF-16 texts are equal.
  friend bool operator==(const wide_string& a, const wide_string& b) { return a.text_ == b.text_; }

 private:
  std::u16string text_;
  mutable std::string narrow_;
};

/// The computer's name (cached; "localhost" when the system will not tell).
wide_string host_name();

/// A new random UUID as 36 lower-case characters; falls back to `uuid_from_clock` without kernel randomness.
std::string new_uuid();

/// The substitute UUID built from a high-resolution counter and a millisecond tick count.
std::string uuid_from_clock(uint64_t counter, uint32_t tick_ms);

/// CRC-32 of ISO 3309 (as zlib computes it).
uint32_t crc32(const void* data, size_t size);

/// A parsed URI reference; user information and fragment are not kept.
class uri {
 public:
  /// An empty URI: every text empty, port 0, no query.
  uri() = default;

  /// Parses `text`; text that is empty or not a URI leaves every other field empty and the port 0.
  explicit uri(std::string text);

  /// The text the URI was built from, whether or not it parsed.
  const std::string& text() const { return text_; }
  /// The scheme as written (case kept); empty when the text did not parse.
  const std::string& scheme() const { return scheme_; }
  /// The host as written; empty when there is none.
  const std::string& host() const { return host_; }
  /// The written port, else 80 for exactly "http", 443 for exactly "https", else 0.
  int32_t port() const { return port_; }
  /// Each path segment preceded by "/".
  const std::string& path() const { return path_; }
  /// Decoded query pairs in order; an item without "=" has the value "".
  const std::vector<std::pair<std::string, std::string>>& query() const { return query_; }

 private:
  std::string text_;
  std::string scheme_;
  std::string host_;
  int32_t port_ = 0;
  std::string path_;
  std::vector<std::pair<std::string, std::string>> query_;
};

/// Percent-encodes every byte but the unreserved characters of RFC 3986, with upper-case hex digits.
std::string escape(std::string_view text);

/// `text` with the ASCII letters A to Z made lower case (other bytes, UTF-8 included, are kept).
std::string ascii_lower(std::string_view text);

/// The value of an environment variable, or "" when it is unset.
std::string environment(const char* name);

/// Gives the free pages of the heap back to the system (the C library keeps freed memory for reuse, also
/// after a burst of short-lived allocations that a long-running idle program never needs again). Returns
/// true when some memory was released; false when there was none or the C library cannot do it.
bool release_free_memory();

}  // namespace quorvane
