// Drawing the attribute list of a printer with 100 paper sizes with the list's own delegate, against the
// same rows drawn by Qt's default delegate, measured in the same run in interleaved rounds. Prints the
// median time of each and their ratio (goal: at most 2).
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/layout/dialog_units.h"
#include "ui/lists/attribute_list.h"

namespace {

using namespace quorvane;

constexpr int paper_count = 100;
constexpr int rounds = 41;
constexpr int draws_per_round = 5;

smart_ptr<model::printer> printer_with_paper() {
  auto p = make_counted<model::printer>();
  p->setFeature(model::printer_feature::color, model::feature_offered | model::feature_on);
  p->setFeature(model::printer_feature::duplex, model::feature_offered);
  p->setFeature(model::printer_feature::landscape, model::feature_offered | model::feature_on);
  model::media_list sizes;
  for (int i = 0; i < paper_count; ++i) {
    auto size = make_counted<model::media>(*model::builtin_media_at(i % model::builtin_media_count()));
    size->setDisplayName(size->displayName() + " size number " + std::to_string(i));
    size->setEnabled(i % 2 == 0);  // half of them drawn faded and grey
    sizes.push_back(size);
  }
  p->setMedia(sizes);
  return p;
}

/// Milliseconds for `draws_per_round` full draws of `list` into `image`.
double time_draws(CAttributeList& list, QImage& image) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < draws_per_round; ++i) {
    QPainter painter(&image);
    list.viewport()->render(&painter);
  }
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  set_dialog_font_app_wide();

  const std::vector<attribute_entry> rows = attribute_rows(*printer_with_paper());
  const QSize size(543, static_cast<int>(rows.size()) * CAttributeList::row_height);
  CAttributeList own;
  CAttributeList plain;
  plain.setItemDelegate(new QStyledItemDelegate(&plain));
  for (CAttributeList* list : {&own, &plain}) {
    list->set_rows(rows);
    list->resize(size.width() + 2 * list->frameWidth(), size.height() + 2 * list->frameWidth());
    list->show();
  }
  QImage image(own.viewport()->size(), QImage::Format_ARGB32_Premultiplied);

  // Warm up both (fonts, glyph caches), then alternate which goes first.
  time_draws(own, image);
  time_draws(plain, image);
  std::vector<double> own_times;
  std::vector<double> plain_times;
  std::vector<double> ratios;
  for (int round = 0; round < rounds; ++round) {
    double a = 0;
    double b = 0;
    if (round % 2 == 0) {
      a = time_draws(own, image);
      b = time_draws(plain, image);
    } else {
      b = time_draws(plain, image);
      a = time_draws(own, image);
    }
    own_times.push_back(a / draws_per_round);
    plain_times.push_back(b / draws_per_round);
    ratios.push_back(a / b);
  }
  std::printf("attribute list, %zu rows (%d paper sizes), %d rounds of %d draws each\n", rows.size(),
              paper_count, rounds, draws_per_round);
  std::printf("own delegate:     median %.3f ms per draw\n", median(own_times));
  std::printf("default delegate: median %.3f ms per draw\n", median(plain_times));
  std::printf("ratio own/default: median %.2f (min %.2f, max %.2f; goal <= 2)\n", median(ratios),
              *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()));
  return 0;
}
