// QR codes (libqrencode) as images.
#pragma once

#include <QImage>

#include <string>

namespace quorvane::phones {

/// A QR code of `text` (8-bit data, error correction level M) drawn black on white, `module_pixels` pixels
/// a module, with the quiet zone of four modules around it. A null image when `text` is empty or does not
/// fit a QR code.
QImage qr_image(const std::string& text, int module_pixels);

}  // namespace quorvane::phones
