// The form a browser sends from a printer's web page, read as it arrives.
#include "print_service/ipp/web_form.h"

#include <strings.h>

#include <cctype>
#include <utility>

namespace quorvane::print_service {

namespace {

bool same_text(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The parameters after the first ';' of a header value (`type; key=value; key="quoted value"`), names in
// lower case; the value before them in `head`. False for a parameter that breaks the format.
bool header_parameters(std::string_view value, std::string& head,
                       std::map<std::string, std::string>& params) {
  size_t at = value.find(';');
  head = std::string(trimmed(value.substr(0, at)));
  while (at != std::string_view::npos) {
    ++at;
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    if (at >= value.size()) break;
    const size_t equals = value.find('=', at);
    if (equals == std::string_view::npos) return false;
    std::string key(trimmed(value.substr(at, equals - at)));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    at = equals + 1;
    std::string text;
    if (at < value.size() && value[at] == '"') {
      // A quoted string. Browsers send a quote inside it as %22 and a backslash as it is (a Windows folder
      // before a file name), so a backslash escapes nothing.
      for (++at; at < value.size() && value[at] != '"'; ++at) text += value[at];
      if (at >= value.size()) return false;
      at = value.find(';', at);
    } else {
      const size_t end = value.find(';', at);
      text = std::string(trimmed(value.substr(at, end == std::string_view::npos ? end : end - at)));
      at = end;
    }
    params.emplace(std::move(key), std::move(text));
  }
  return true;
}

}  // namespace

std::optional<std::string> form_boundary(std::string_view content_type) {
  std::string type;
  std::map<std::string, std::string> params;
  if (!header_parameters(content_type, type, params) || !same_text(type, "multipart/form-data")) {
    return std::nullopt;
  }
  const auto found = params.find("boundary");
  if (found == params.end()) return std::nullopt;
  const std::string& boundary = found->second;
  // RFC 2046: 1 to 70 characters of its set, not ending with a space.
  static constexpr std::string_view allowed = "'()+_,-./:=? ";
  if (boundary.empty() || boundary.size() > 70 || boundary.back() == ' ') return std::nullopt;
  for (char c : boundary) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && allowed.find(c) == std::string_view::npos) {
      return std::nullopt;
    }
  }
  return boundary;
}

web_form_reader::web_form_reader(std::string boundary, std::string file_field, file_start on_start,
                                 file_bytes on_bytes)
    : delimiter_("\r\n--" + boundary),
      file_field_(std::move(file_field)),
      on_start_(std::move(on_start)),
      on_bytes_(std::move(on_bytes)),
      // The body's first delimiter has no line break before it: one is put there.
      pending_("\r\n") {}

bool web_form_reader::fail(std::string reason) {
  state_ = state::failed;
  error_ = std::move(reason);
  pending_.clear();
  return false;
}

bool web_form_reader::feed(std::string_view bytes) {
  if (state_ == state::failed) return false;
  if (state_ == state::done) return true;
  pending_.append(bytes);
  for (;;) {
    switch (state_) {
      case state::preamble: {
        const size_t at = pending_.find(delimiter_);
        if (at == std::string::npos) {
          if (pending_.size() > max_header_bytes) return fail("the form does not begin with its boundary");
          return true;
        }
        pending_.erase(0, at + delimiter_.size());
        state_ = state::after_delimiter;
        break;
      }
      case state::after_delimiter: {
        if (pending_.size() < 2) return true;
        if (pending_.compare(0, 2, "--") == 0) {
          state_ = state::done;
          pending_.clear();
          return true;
        }
        // A line break ends the delimiter's line, after spaces a sender may pad it with.
        const size_t end = pending_.find("\r\n");
        if (end == std::string::npos) {
          if (pending_.size() > 80) return fail("a boundary line of the form does not end");
          return true;
        }
        if (!trimmed(std::string_view(pending_).substr(0, end)).empty()) {
          return fail("a boundary of the form is followed by other text");
        }
        pending_.erase(0, end + 2);
        if (++parts_ > max_parts)
          return fail("the form has more than " + std::to_string(max_parts) + " parts");
        state_ = state::headers;
        break;
      }
      case state::headers: {
        // A part without headers begins with the empty line at once.
        const size_t end = pending_.compare(0, 2, "\r\n") == 0 ? 0 : pending_.find("\r\n\r\n");
        if (end == std::string::npos || end > max_header_bytes) {
          if (end != std::string::npos || pending_.size() > max_header_bytes) {
            return fail("a part of the form has more than " + std::to_string(max_header_bytes) +
                        " bytes of headers");
          }
          return true;
        }
        if (!read_headers(std::string_view(pending_).substr(0, end))) return false;
        pending_.erase(0, end == 0 ? 2 : end + 4);
        state_ = state::content;
        break;
      }
      case state::content: {
        const size_t at = pending_.find(delimiter_);
        if (at == std::string::npos) {
          // All but what could be the beginning of the delimiter is the part's content.
          if (pending_.size() < delimiter_.size()) return true;
          const size_t safe = pending_.size() - (delimiter_.size() - 1);
          if (!content_bytes(std::string_view(pending_).substr(0, safe))) return false;
          pending_.erase(0, safe);
          return true;
        }
        if (!content_bytes(std::string_view(pending_).substr(0, at)) || !end_part()) return false;
        pending_.erase(0, at + delimiter_.size());
        state_ = state::after_delimiter;
        break;
      }
      case state::done:
        return true;
      case state::failed:
        return false;
    }
  }
}

bool web_form_reader::read_headers(std::string_view headers) {
  std::string name;
  std::string file_name;
  std::string content_type;
  bool is_file = false;
  for (size_t at = 0; at < headers.size();) {
    size_t end = headers.find("\r\n", at);
    if (end == std::string_view::npos) end = headers.size();
    const std::string_view line = headers.substr(at, end - at);
    at = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return fail("a header of the form's parts has no name");
    const std::string_view header = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (same_text(header, "Content-Disposition")) {
      std::string disposition;
      std::map<std::string, std::string> params;
      if (!header_parameters(value, disposition, params) || !same_text(disposition, "form-data")) {
        return fail("a part of the form is not form data");
      }
      name = params["name"];
      if (const auto found = params.find("filename"); found != params.end()) {
        is_file = true;
        // Some browsers send the folder too.
        file_name = found->second.substr(found->second.find_last_of("/\\") + 1);
      }
    } else if (same_text(header, "Content-Type")) {
      content_type = std::string(value);
    }
  }
  if (name.empty()) return fail("a part of the form has no field name");
  part_name_ = name;
  in_file_ = name == file_field_;
  value_.clear();
  if (!in_file_) {
    if (is_file) return fail("the form has a file in the field '" + name + "'");
    return true;
  }
  if (file_seen_) return fail("the form has more than one file");
  file_seen_ = true;
  if (!on_start_(file_name, content_type)) return fail({});
  return true;
}

bool web_form_reader::content_bytes(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (in_file_) return on_bytes_(bytes) || fail({});
  if (value_.size() + bytes.size() > max_field_bytes) {
    return fail("the field '" + part_name_ + "' is longer than " + std::to_string(max_field_bytes) +
                " bytes");
  }
  value_.append(bytes);
  return true;
}

bool web_form_reader::end_part() {
  if (!in_file_) fields_.emplace(part_name_, std::move(value_));
  value_.clear();
  in_file_ = false;
  return true;
}

}  // namespace quorvane::print_service
