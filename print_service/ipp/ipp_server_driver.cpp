// The driver data of an IPP printer, filled from its printer record: formats, media, margins, colour, sides.
#include "print_service/ipp/ipp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>

#include "core/files.h"
#include "core/json_text.h"
#include "core/log.h"
#include "model/values.h"
#include "print_service/documents/raster_to_pdf.h"
#include "print_service/ipp/ipp_client_address.h"
#include "print_service/ipp/ipp_job_attributes.h"
#include "print_service/ipp/ipp_printer_description.h"
#include "print_service/ipp/ipp_server_p.h"
#include "print_service/store/spool.h"

namespace quorvane::print_service {

using namespace ipp_detail;

namespace {

// PAPPL keeps pointers to the media names of a printer's driver data: names live as long as the process.
const char* interned(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string> names;
  std::lock_guard<std::mutex> lock(mutex);
  return names.insert(text).first->c_str();
}

// Colour, sides, resolution and the job defaults of `printer`.
void fill_capabilities(const Json::Value& printer, pappl_pr_driver_data_t& data) {
  const bool color = (int_member(printer, "color") & model::feature_on) != 0;
  const bool duplex = (int_member(printer, "duplex") & model::feature_on) != 0;
  data.kind = static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO);
  data.ppm = 10;
  data.ppm_color = color ? 10 : 0;
  data.color_supported =
      color ? static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR |
                                              PAPPL_COLOR_MODE_MONOCHROME)
            : static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_MONOCHROME);
  data.color_default =
      static_cast<pappl_color_mode_t>(color ? PAPPL_COLOR_MODE_AUTO : PAPPL_COLOR_MODE_MONOCHROME);
  // Lines arrive in the client's layout only when both sides use 8 bits or more per colour.
  data.raster_types = static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_SGRAY_8 |
                                                       (color ? PAPPL_PWG_RASTER_TYPE_SRGB_8 : 0));
  data.duplex = duplex ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;
  data.sides_supported =
      duplex ? static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                                          PAPPL_SIDES_TWO_SIDED_SHORT_EDGE)
             : static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED);
  data.sides_default = static_cast<pappl_sides_t>(PAPPL_SIDES_ONE_SIDED);
  data.num_resolution = 1;
  data.x_resolution[0] = data.y_resolution[0] = 300;
  data.x_default = data.y_default = 300;
  data.quality_default = IPP_QUALITY_NORMAL;
  data.scaling_default = PAPPL_SCALING_AUTO;
  // IPP Everywhere wants a real orientation as the default; a job that names none is still recorded
  // without one (see job_record), so the console turns each page as its content asks.
  data.orient_default = IPP_ORIENT_PORTRAIT;
  data.identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data.identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
}

// The media of `printer`, the default one with its margins, and the one source and type.
void fill_media(const Json::Value& printer, pappl_pr_driver_data_t& data) {
  // The enabled media, in their order; the first is the default. PAPPL has one margin pair per printer: the
  // default's margins, and borderless sizes when any size has no margin.
  std::vector<Json::Value> media = enabled_media(printer);
  if (media.empty()) {
    Json::Value a4(Json::objectValue);
    a4["name"] = "iso_a4_210x297mm";
    a4["width"] = 21000;
    a4["height"] = 29700;
    media.push_back(a4);
  }
  data.num_media = 0;
  data.borderless = false;
  for (const Json::Value& m : media) {
    if (data.num_media >= PAPPL_MAX_MEDIA) break;
    data.media[data.num_media++] = interned(string_member(m, "name"));
    const Json::Value& margins = m["margins"];
    if (margins.isArray() && !margins.empty() && margins[0].isObject() &&
        int_member(margins[0], "left") == 0 && int_member(margins[0], "top") == 0 &&
        int_member(margins[0], "right") == 0 && int_member(margins[0], "bottom") == 0) {
      data.borderless = true;
    }
  }
  const Json::Value& first = media.front();
  const Json::Value& margins = first["margins"];
  const Json::Value margin =
      margins.isArray() && !margins.empty() ? margins[0] : Json::Value(Json::objectValue);
  // Margins that are no object (no console writes such a record) count as none: the defaults apply.
  const bool has_margins = margin.isObject() && margin.isMember("left");
  data.left_right = has_margins ? std::max(int_member(margin, "left"), int_member(margin, "right")) : 635;
  data.bottom_top = has_margins ? std::max(int_member(margin, "top"), int_member(margin, "bottom")) : 635;
  if (data.left_right == 0 && data.bottom_top == 0 && media.size() > 1) {
    data.left_right = data.bottom_top = 635;
  }

  pappl_media_col_t col{};
  std::snprintf(col.size_name, sizeof(col.size_name), "%s", string_member(first, "name").c_str());
  std::snprintf(col.source, sizeof(col.source), "%s", "main");
  std::snprintf(col.type, sizeof(col.type), "%s", "stationery");
  col.size_width = int_member(first, "width");
  col.size_length = int_member(first, "height");
  if (const pwg_media_t* pwg = pwgMediaForPWG(col.size_name);
      pwg && (col.size_width <= 0 || col.size_length <= 0)) {
    col.size_width = pwg->width;
    col.size_length = pwg->length;
  }
  col.left_margin = has_margins ? int_member(margin, "left") : data.left_right;
  col.right_margin = has_margins ? int_member(margin, "right") : data.left_right;
  col.top_margin = has_margins ? int_member(margin, "top") : data.bottom_top;
  col.bottom_margin = has_margins ? int_member(margin, "bottom") : data.bottom_top;
  data.num_source = 1;
  data.source[0] = "main";
  data.num_type = 1;
  data.type[0] = "stationery";
  data.media_default = col;
  data.media_ready[0] = col;
}

}  // namespace

namespace ipp_detail {

std::vector<Json::Value> enabled_media(const Json::Value& printer) {
  std::vector<Json::Value> media;
  if (!printer["media"].isArray()) return media;
  for (const Json::Value& m : printer["media"]) {
    if (m.isObject() && m["enabled"].isBool() && m["enabled"].asBool() && !string_member(m, "name").empty()) {
      media.push_back(m);
    }
  }
  return media;
}

}  // namespace ipp_detail

bool ipp_server::driver_callback(pappl_system_t*, const char*, const char*, const char*,
                                 pappl_pr_driver_data_t* data, ipp_t** attributes, void* context) {
  auto* self = static_cast<ipp_server*>(context);
  if (!self->creating_) return false;
  fill_driver_data(*self->creating_, *data);
  *attributes = virtual_printer_attributes();  // PAPPL deletes it
  return true;
}

void ipp_server::identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  const char* name = papplPrinterGetName(printer);
  QV_LOG(log_information, "IPP printer '%s' asked to identify itself%s%s", name ? name : "",
         message && *message ? ": " : "", message && *message ? message : "");
}

void ipp_server::fill_driver_data(const Json::Value& printer, pappl_pr_driver_data_t& data) {
  data.printfile_cb = &ipp_server::print_file;
  data.rstartjob_cb = &ipp_server::raster_start_job;
  data.rstartpage_cb = &ipp_server::raster_start_page;
  data.rwriteline_cb = &ipp_server::raster_write_line;
  data.rendpage_cb = &ipp_server::raster_end_page;
  data.rendjob_cb = &ipp_server::raster_end_job;
  // Identify-Printer shows its message where a printer without a panel can: in the log.
  data.identify_cb = &ipp_server::identify;
  data.format = "application/pdf";

  std::string make_and_model = string_member(printer, "make");
  const std::string model = string_member(printer, "model");
  if (!model.empty()) make_and_model += (make_and_model.empty() ? "" : " ") + model;
  if (make_and_model.empty()) make_and_model = "Quorvane";
  // PAPPL makes the printer's IEEE 1284 device ID of it, whose fields end at a semicolon.
  std::replace(make_and_model.begin(), make_and_model.end(), ';', ',');
  std::snprintf(data.make_and_model, sizeof(data.make_and_model), "%s", make_and_model.c_str());

  fill_capabilities(printer, data);
  fill_media(printer, data);
}

}  // namespace quorvane::print_service
