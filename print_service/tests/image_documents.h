// Images for the tests: small PNG and JPEG files, drawn by cairo and written by libjpeg.
#pragma once

#include <string>

namespace quorvane::print_service::testing {

/// Writes a 32 x 32 red square as PNG to `path`; false when it cannot.
bool write_png(const std::string& path);

/// Writes a 32 x 32 grey square as JPEG to `path`; false when it cannot.
bool write_jpeg(const std::string& path);

}  // namespace quorvane::print_service::testing
