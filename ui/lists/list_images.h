// Where the self-drawn lists get their images from.
#pragma once

#include <QPixmap>

#include <functional>

namespace quorvane {

/// Gives the image of a resource name ("IDI_CHECKED", "IDI_LOCK", ...); a null pixmap when there is none,
/// which the lists then leave out of their drawing.
using image_loader = std::function<QPixmap(const char* name)>;

/// The console's own images, from the application's resources, rendered for the highest device pixel ratio
/// of the screens (`image_for_ratio`).
image_loader console_images();

}  // namespace quorvane
