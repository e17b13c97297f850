// Test fixtures made on the spot: temporary folders, small PDFs and images, command output.
#pragma once

#include <cstdint>
#include <string>

#include "test_support/temporary_folder.h"

namespace quorvane::test {

using temp_folder = testing_support::temporary_folder;

/// Writes a PDF of `pages` pages of `width` x `height` points, page n filled with a different grey; false on
/// failure.
bool make_pdf(const std::string& path, int pages, double width = 595, double height = 842);

/// Writes a PNG of `width` x `height` pixels filled with the colour 0xRRGGBB; false on failure.
bool make_png(const std::string& path, int width, int height, uint32_t rgb);

/// Writes a baseline JPEG of `width` x `height` pixels filled with the colour 0xRRGGBB; false on failure.
bool make_jpeg(const std::string& path, int width, int height, uint32_t rgb);

/// Writes a PDF of `pages` empty A4 pages that all refer to one resource dictionary of `entries` graphics
/// states: small on disk, but poppler reads the dictionary again for every page it reaches and keeps each
/// copy; false on failure.
bool make_pdf_sharing_resources(const std::string& path, int pages, int entries);

/// Writes a small JPEG (16 x 16 pixels of data) whose frame header claims `width` x `height` pixels (each
/// at most 65535); false on failure.
bool make_jpeg_claiming(const std::string& path, int width, int height);

/// Writes the start of a PNG: its signature and a header (IHDR, 8-bit RGBA) claiming `width` x `height`
/// pixels, then the end chunk, without image data; false on failure.
bool make_png_claiming(const std::string& path, uint32_t width, uint32_t height);

/// Writes `text` to `path`; false on failure.
bool write_file(const std::string& path, const std::string& text);

/// Whether `path` exists.
bool exists(const std::string& path);

/// Reads the whole file (empty when unreadable).
std::string read_file(const std::string& path);

/// Runs `command` with the shell and returns its standard output.
std::string run(const std::string& command);

}  // namespace quorvane::test
