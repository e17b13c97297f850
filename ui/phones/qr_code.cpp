#include "ui/phones/qr_code.h"

#include <qrencode.h>

#include <memory>

namespace quorvane::phones {

QImage qr_image(const std::string& text, int module_pixels) {
  if (text.empty() || module_pixels < 1) return {};
  std::unique_ptr<QRcode, void (*)(QRcode*)> code(
      QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()),
                        /*version=*/0, QR_ECLEVEL_M),
      QRcode_free);
  if (!code) return {};
  // Readers need four light modules around the code.
  constexpr int quiet = 4;
  const int modules = code->width + 2 * quiet;
  QImage image(modules * module_pixels, modules * module_pixels, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (int y = 0; y < code->width; ++y) {
    for (int x = 0; x < code->width; ++x) {
      // Bit 0 of each byte is the module's colour (1: dark).
      if (!(code->data[y * code->width + x] & 1)) continue;
      for (int dy = 0; dy < module_pixels; ++dy) {
        for (int dx = 0; dx < module_pixels; ++dx) {
          image.setPixel((x + quiet) * module_pixels + dx, (y + quiet) * module_pixels + dy, qRgb(0, 0, 0));
        }
      }
    }
  }
  return image;
}

}  // namespace quorvane::phones
