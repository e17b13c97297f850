#include "model/document_formats.h"

namespace quorvane::model {

const document_format* find_document_format(std::string_view mime_type) {
  for (const document_format& format : document_formats) {
    if (mime_type == format.mime_type) return &format;
  }
  return nullptr;
}

const document_format* document_format_of(std::string_view head) {
  for (const document_format& format : document_formats) {
    for (std::string_view leading : format.leading) {
      if (!leading.empty() && head.substr(0, leading.size()) == leading) return &format;
    }
  }
  return nullptr;
}

}  // namespace quorvane::model
