// The document formats of the print path, in one table: how a document of each is recognised and checked,
// what its spooled copy is called, whether devices may send it and whether the print service turns it into
// a PDF before a console gets it. The spool, the IPP side, the job names and the printers' default formats
// all read this table.
#pragma once

#include <string_view>

namespace quorvane::model {

/// One document format.
struct document_format {
  const char* mime_type;
  std::string_view leading[2];  // what a document of it begins with (either one); none: it is not typed by it
  std::string_view end_marker;  // found among the last KiB of a whole document; empty: not checked
  const char* extension;        // of a file of it; empty: none
  const char* noun;             // what messages call a document of it
  bool from_devices;            // offered to devices over IPP
  bool converted;               // made into a PDF by the print service: the console never gets it as it is
};

/// Every format, in the order printers list them.
inline constexpr document_format document_formats[] = {
    // PAPPL offers it too: such data is typed from its first bytes.
    {"application/octet-stream", {}, {}, "", "document", true, false},
    {"application/pdf", {"%PDF-"}, "%%EOF", ".pdf", "PDF document", true, false},
    {"image/jpeg", {"\xFF\xD8\xFF"}, "\xFF\xD9", ".jpg", "JPEG image", true, false},
    {"image/png", {"\x89PNG\r\n\x1A\n"}, "IEND", ".png", "PNG image", true, false},
    // Raster: PWG raster in either byte order, and Apple raster ("UNIRAST").
    {"image/pwg-raster", {"RaS2", "2SaR"}, {}, ".pwg", "PWG raster document", true, true},
    {"image/urf", {"UNIR"}, {}, ".urf", "Apple raster document", true, true},
};

/// The format named `mime_type`; null when the table has none.
const document_format* find_document_format(std::string_view mime_type);

/// The format whose leading bytes begin `head`; null when none does.
const document_format* document_format_of(std::string_view head);

/// Whether documents of `format` go to the console as they were sent: a format with leading bytes of its own
/// that the service does not convert (PDF, JPEG, PNG).
constexpr bool is_handed_over(const document_format& format) {
  return !format.converted && !format.leading[0].empty();
}

}  // namespace quorvane::model
