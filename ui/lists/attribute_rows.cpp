#include "ui/lists/attribute_rows.h"

#include <QCoreApplication>

#include <array>

namespace quorvane {

namespace {

// The feature rows in the order the list shows them, with their texts and images.
struct feature_row {
  int32_t kind;
  model::printer_feature feature;
  const char* text;
  const char* image;
};

constexpr std::array<feature_row, 3> feature_rows = {{
    {attribute_color, model::printer_feature::color, QT_TRANSLATE_NOOP("quorvane::attribute_rows", "Color"),
     "IDI_COLOR"},
    {attribute_duplex, model::printer_feature::duplex,
     QT_TRANSLATE_NOOP("quorvane::attribute_rows", "Duplex"), "IDI_DUPLEX"},
    {attribute_landscape, model::printer_feature::landscape,
     QT_TRANSLATE_NOOP("quorvane::attribute_rows", "Landscape"), "IDI_LANDSCAPE"},
}};

/// The feature row of `kind`; null for headers and paper rows.
const feature_row* find_feature_row(int32_t kind) {
  for (const feature_row& row : feature_rows)
    if (row.kind == kind) return &row;
  return nullptr;
}

}  // namespace

std::vector<attribute_entry> attribute_rows(const model::printer& p) {
  std::vector<attribute_entry> rows;
  rows.reserve(feature_rows.size() + p.media().size() + 2);
  rows.push_back({attribute_features_header, false, {}});
  for (const feature_row& row : feature_rows) {
    const int32_t word = p.feature(row.feature);
    if (word & model::feature_offered) rows.push_back({row.kind, (word & model::feature_on) != 0, {}});
  }
  rows.push_back({attribute_paper_header, false, {}});
  for (const smart_ptr<model::media>& size : p.media())
    if (size) rows.push_back({attribute_paper, size->enabled(), size});
  return rows;
}

void apply_attribute_rows(model::printer& p, const std::vector<attribute_entry>& rows) {
  for (const attribute_entry& row : rows) {
    if (const feature_row* feature = find_feature_row(row.kind))
      p.setFeatureBit(feature->feature, model::feature_on, row.value);
    else if (row.kind == attribute_paper && row.media)
      row.media->setEnabled(row.value);
  }
}

std::string attribute_text(const attribute_entry& entry) {
  switch (entry.kind) {
    case attribute_features_header:
      return QCoreApplication::translate("quorvane::attribute_rows", "FEATURES").toStdString();
    case attribute_paper_header:
      return QCoreApplication::translate("quorvane::attribute_rows", "PAPER").toStdString();
    case attribute_paper:
      return entry.media ? entry.media->displayName() : std::string();
    default: {
      const feature_row* feature = find_feature_row(entry.kind);
      return feature ? QCoreApplication::translate("quorvane::attribute_rows", feature->text).toStdString()
                     : std::string();
    }
  }
}

const char* attribute_image_name(int32_t kind) {
  if (kind == attribute_paper) return "IDI_PAPER";
  const feature_row* feature = find_feature_row(kind);
  return feature ? feature->image : nullptr;
}

}  // namespace quorvane
