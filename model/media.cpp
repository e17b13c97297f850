#include "model/media.h"

#include "model/document_formats.h"
#include "model/json_p.h"

namespace quorvane::model {

media::media(std::string name, std::string displayName, int32_t klass, int32_t type, int32_t width,
             int32_t height)
    : name_(std::move(name)),
      displayName_(std::move(displayName)),
      klass_(klass),
      type_(type),
      width_(width),
      height_(height) {}

media::media(const media& other)
    : object(other),
      name_(other.name_),
      displayName_(other.displayName_),
      klass_(other.klass_),
      type_(other.type_),
      width_(other.width_),
      height_(other.height_),
      margins_(other.margins_),
      enabled_(true) {}

void media::writeJSON(Json::Value& out) const {
  out["name"] = name_;
  out["displayName"] = displayName_;
  out["klass"] = klass_;
  out["type"] = type_;
  out["width"] = width_;
  out["height"] = height_;
  for (const media_margins& m : margins_) {
    Json::Value entry(Json::objectValue);
    entry["name"] = m.name;
    entry["left"] = m.left;
    entry["top"] = m.top;
    entry["right"] = m.right;
    entry["bottom"] = m.bottom;
    out["margins"].append(entry);
  }
  out["enabled"] = enabled_;
}

void media::readJSON(const Json::Value& in) {
  const json::reader read(in, "media");
  name_ = read.text("name");
  displayName_ = read.text("displayName");
  klass_ = read.int32("klass", 0);
  type_ = read.int32("type", 0);
  width_ = read.int32("width", 0);
  height_ = read.int32("height", 0);
  // Replacing (not appending to) the margins keeps a second read of the same JSON from doubling them.
  if (const Json::Value* list = read.array("margins")) {
    margins_.clear();
    for (const Json::Value& element : *list) {
      const json::reader entry(element, "media margins");
      margins_.push_back({entry.text("name"), entry.int32("left", 0), entry.int32("top", 0),
                          entry.int32("right", 0), entry.int32("bottom", 0)});
    }
  }
  enabled_ = read.boolean("enabled", false);
}

const std::vector<std::string>& default_formats() {
  // What a new printer accepts: every format devices may send.
  static const std::vector<std::string> formats = [] {
    std::vector<std::string> out;
    for (const document_format& format : document_formats) {
      if (format.from_devices) out.emplace_back(format.mime_type);
    }
    return out;
  }();
  return formats;
}

namespace {

// The built-in sizes; width and height in hundredths of a millimetre.
struct builtin_size {
  const char* name;
  const char* displayName;
  int32_t klass;
  int32_t type;
  int32_t width;
  int32_t height;
};

constexpr builtin_size builtin_sizes[] = {
    {"iso_a4_210x297mm", "A4", 0, 0, 21000, 29700},
    {"iso_a5_148x210mm", "A5", 1, 1, 14800, 21000},
    {"iso_a6_105x148mm", "A6", 1, 2, 10500, 14800},
    {"iso_dl_110x220mm", "DL", 2, 3, 11000, 22000},
    {"na_legal_8.5x14in", "Legal", 0, 4, 21590, 35560},
    {"na_letter_8.5x11in", "Letter", 0, 5, 21590, 27940},
    {"na_number-10_4.125x9.5in", "#10 (Envelope)", 2, 6, 10477, 24130},
    {"na_index-3x5_3x5in", "3x5 (Photo)", 1, 7, 7630, 12700},
    {"oe_photo-l_3.5x5in", "L (Photo)", 1, 8, 8890, 12700},
    {"na_index-4x6_4x6in", "4x6 (Photo)", 1, 9, 10160, 15240},
    {"na_5x7_5x7in", "5x7 (Photo)", 1, 10, 12700, 17780},
};

// Built once, on first use, and kept until the process ends.
const media_list& builtin_media() {
  static const media_list table = [] {
    media_list built;
    for (const builtin_size& s : builtin_sizes) {
      built.push_back(make_counted<media>(s.name, s.displayName, s.klass, s.type, s.width, s.height));
    }
    return built;
  }();
  return table;
}

}  // namespace

int32_t builtin_media_count() {
  return static_cast<int32_t>(builtin_media().size());
}

media_ptr builtin_media_at(int32_t index) {
  if (index < 0 || index >= builtin_media_count()) return nullptr;
  return builtin_media()[static_cast<size_t>(index)];
}

const media_list& default_printer_media() {
  static const media_list table = [] {
    media_list built;
    for (int32_t index = 0; index < builtin_media_count(); ++index) {
      media_ptr copy = make_counted<media>(*builtin_media_at(index));
      // A5 (size number 1) is the borderless photo size.
      const int32_t margin = copy->type() == 1 ? 0 : 635;
      copy->addMargins({"", margin, margin, margin, margin});
      built.push_back(copy);
    }
    return built;
  }();
  return table;
}

}  // namespace quorvane::model
