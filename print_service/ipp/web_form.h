// The form a browser sends from a printer's web page (multipart/form-data, RFC 7578), read as it arrives:
// small fields are kept, the one file goes to a sink block by block. Every byte comes from whoever reached
// the port, so everything is bounded: the number of parts, each part's headers, each field's value, and a
// form that breaks the format is refused with the reason.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::print_service {

/// The boundary named by a Content-Type of multipart/form-data; none for another type or a boundary that
/// RFC 2046 does not allow (empty, longer than 70 characters, characters outside its set).
std::optional<std::string> form_boundary(std::string_view content_type);

/// Reads one multipart/form-data body.
class web_form_reader {
 public:
  /// What the reader allows.
  static constexpr size_t max_parts = 8;
  static constexpr size_t max_header_bytes = 4096;  // of one part's headers
  static constexpr size_t max_field_bytes = 256;    // of one field's value

  /// The start of the file part: its file name (without any folder a browser put before it) and the type
  /// the browser gave it. False refuses the form (with `error` set by the receiver).
  using file_start = std::function<bool(const std::string& file_name, const std::string& content_type)>;
  /// Bytes of the file, in order. False stops the reading.
  using file_bytes = std::function<bool(std::string_view bytes)>;

  /// A reader of a body whose parts are separated by `boundary`, that hands the part named `file_field`
  /// (the only one with a file) to `on_start` and `on_bytes`.
  web_form_reader(std::string boundary, std::string file_field, file_start on_start, file_bytes on_bytes);

  /// Reads the next bytes of the body. False once the form is refused (the reason in `error()`) or a
  /// receiver stopped it; every later call is false too.
  bool feed(std::string_view bytes);

  /// Whether the body ended with its closing boundary (what follows it is ignored).
  bool complete() const { return state_ == state::done; }

  /// Why the form was refused; empty while it is not.
  const std::string& error() const { return error_; }

  /// The fields that are not the file, by name (a field named twice keeps its first value).
  const std::map<std::string, std::string>& fields() const { return fields_; }

  /// Whether the file part came.
  bool has_file() const { return file_seen_; }

 private:
  enum class state { preamble, after_delimiter, headers, content, done, failed };

  bool fail(std::string reason);
  bool read_headers(std::string_view headers);
  bool content_bytes(std::string_view bytes);
  bool end_part();

  std::string delimiter_;  // "\r\n--" + boundary
  std::string file_field_;
  file_start on_start_;
  file_bytes on_bytes_;
  state state_ = state::preamble;
  std::string pending_;  // bytes not yet consumed
  std::string error_;
  std::map<std::string, std::string> fields_;
  size_t parts_ = 0;
  bool file_seen_ = false;
  bool in_file_ = false;   // the current part is the file
  std::string part_name_;  // the current part's field name
  std::string value_;      // the current field's value
};

}  // namespace quorvane::print_service
