// Converts arbitrary bytes as a PWG raster or Apple raster document to PDF: no input may read or write out
// of bounds, and a conversion that succeeds gives a whole PDF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "print_service/documents/raster_to_pdf.h"

namespace {

// Small inputs may describe large pages; the output stops here to keep each run short.
constexpr size_t max_output = size_t{64} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvane::print_service;
  size_t written = 0;
  std::string head, tail;
  const raster_conversion result = raster_to_pdf(
      std::string_view(reinterpret_cast<const char*>(data), size), 0, [&](std::string_view bytes) {
        if (written == 0) head.assign(bytes.substr(0, 5));
        tail.assign(bytes.substr(bytes.size() > 6 ? bytes.size() - 6 : 0));
        written += bytes.size();
        return written <= max_output;
      });
  if (result.ok && (result.pages == 0 || head != "%PDF-" || tail != "%%EOF\n")) std::abort();
  if (!result.ok && result.error.empty()) std::abort();
  return 0;
}
