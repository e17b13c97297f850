// The self-drawn lists, painted offscreen and read pixel by pixel, and their check boxes.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

#include "core/log.h"
#include "list_test_support.h"
#include "ui/controls/colours.h"
#include "ui/lists/acl_list.h"
#include "ui/lists/attribute_list.h"
#include "ui/lists/list_painting_p.h"
#include "ui/lists/printer_list.h"

namespace quorvane {
namespace {

using namespace quorvane::testing;

const QColor selected(54, 116, 223);
const QColor white(255, 255, 255);

// ---- printer list

class PrinterListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_.setModel(&model_);
    list_.set_update_printer([this](smart_ptr<model::printer> p) { sent_.push_back(p); });
    list_.resize(287, 200);
    list_.show();
  }

  /// Column `column` of row `row` in viewport coordinates.
  QRect cell(int row, int column) const { return list_.visualRect(model_.index(row, column)); }

  QStandardItemModel model_;
  CPrinterList list_{nullptr, solid_images()};
  std::vector<smart_ptr<model::printer>> sent_;
};

TEST_F(PrinterListTest, RowsAreFortyPixelsInThreeFixedColumns) {
  fill_printer_model(model_, {make_printer("One"), make_printer("Two")});
  EXPECT_EQ(cell(0, 0), QRect(0, 0, 24, 40));
  EXPECT_EQ(cell(0, 1), QRect(24, 0, 235, 40));
  EXPECT_EQ(cell(1, 2), QRect(259, 40, 24, 40));
  EXPECT_TRUE(list_.isHeaderHidden());
}

TEST_F(PrinterListTest, SelectedRowKeepsItsColourWhenTheWindowLosesFocus) {
  fill_printer_model(model_, {make_printer("One"), make_printer("Two")});
  list_.setCurrentIndex(model_.index(0, 0));
  QApplication::setActiveWindow(&list_);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&list_));
  QImage shown = render(list_.viewport());
  EXPECT_EQ(shown.pixelColor(150, 38), selected) << "focused";
  EXPECT_EQ(shown.pixelColor(150, 78), white) << "unselected row";

  QWidget other;
  other.show();
  QApplication::setActiveWindow(&other);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  ASSERT_FALSE(list_.isActiveWindow());
  shown = render(list_.viewport());
  EXPECT_EQ(shown.pixelColor(150, 38), selected) << "unfocused";
  EXPECT_EQ(shown.pixelColor(2, 2), selected) << "unfocused, check column";
}

TEST_F(PrinterListTest, CheckImageFollowsEnabledAndLockShowsOnlyWithAnAccessList) {
  auto open = make_printer("Open");
  auto locked = make_printer("Locked");
  locked->setEnabled(false);
  locked->setAcl({"alice"});
  fill_printer_model(model_, {open, locked});
  const QImage shown = render(list_.viewport());
  EXPECT_EQ(printer_list_delegate::check_rect(cell(0, 0)), QRect(4, 12, 16, 16));
  EXPECT_EQ(printer_list_delegate::lock_rect(cell(0, 2)), QRect(263, 11, 16, 16));
  EXPECT_TRUE(uniform(shown, printer_list_delegate::check_rect(cell(0, 0)), checked_colour));
  EXPECT_TRUE(uniform(shown, cell(0, 2), white)) << "no access list, no lock";
  EXPECT_TRUE(uniform(shown, printer_list_delegate::check_rect(cell(1, 0)), unchecked_colour));
  EXPECT_TRUE(uniform(shown, printer_list_delegate::lock_rect(cell(1, 2)), lock_colour));

  // One user added by the service: the lock appears at the next redraw.
  auto update = make_printer("Open");
  update->setUuid(open->uuid());
  update->setAcl({"bob"});
  model_.setData(model_.index(0, 2), QVariant::fromValue(update), printer_record_role);
  EXPECT_TRUE(uniform(render(list_.viewport()), printer_list_delegate::lock_rect(cell(0, 2)), lock_colour));
}

TEST_F(PrinterListTest, NameAndLocationTakeTwoLinesAndALongNameIsElidedBeforeTheLock) {
  auto p = make_printer(std::string(200, 'W'), "Second floor");
  p->setAcl({"alice"});
  fill_printer_model(model_, {p});
  const QImage shown = render(list_.viewport());
  const QRect lock = printer_list_delegate::lock_rect(cell(0, 2));
  EXPECT_TRUE(uniform(shown, lock, lock_colour));
  EXPECT_TRUE(uniform(shown, QRect(259, 0, 24, lock.top()), white)) << "above the lock";
  EXPECT_TRUE(uniform(shown, QRect(259, lock.bottom() + 1, 24, 40 - lock.bottom() - 1), white)) << "below";
  EXPECT_TRUE(uniform(shown, QRect(259, 0, lock.left() - 259, 40), white)) << "left of the lock";
  EXPECT_LT(darkest(shown, QRect(28, 5, 231, 18)), 60) << "name in black";
  EXPECT_LT(darkest(shown, QRect(230, 5, 29, 18)), 200) << "the ellipsis reaches the column's end";
  const int location = darkest(shown, QRect(28, 23, 231, 16));
  EXPECT_GE(location, 66);
  EXPECT_LE(location, 80) << "location in (72, 72, 72)";
  EXPECT_TRUE(uniform(shown, QRect(24, 0, 4, 40), white)) << "text starts 4 pixels in";
}

TEST_F(PrinterListTest, OneUpdatePerToggleAndNoneWhenARedrawFollowsTheService) {
  auto p = make_printer("Office");
  fill_printer_model(model_, {p});
  const QPoint check = printer_list_delegate::check_rect(cell(0, 0)).center();

  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, check);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].get(), p.get());
  EXPECT_FALSE(p->enabled());
  EXPECT_TRUE(p->dirty());
  EXPECT_TRUE(
      uniform(render(list_.viewport()), printer_list_delegate::check_rect(cell(0, 0)), unchecked_colour));

  // A click in the row's text selects it and toggles nothing.
  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, QPoint(100, 20));
  EXPECT_EQ(sent_.size(), 1u);
  EXPECT_EQ(list_.currentIndex().row(), 0);

  // The service reports the printer on again: the row follows without a request.
  auto reported = make_printer("Office");
  reported->setUuid(p->uuid());
  for (int column = 0; column < 3; ++column)
    model_.setData(model_.index(0, column), QVariant::fromValue(reported), printer_record_role);
  EXPECT_TRUE(
      uniform(render(list_.viewport()), printer_list_delegate::check_rect(cell(0, 0)), checked_colour));
  list_.repaint();
  EXPECT_EQ(sent_.size(), 1u);

  // Space on the current row toggles as a click does; setting the state it already has sends nothing.
  QTest::keyClick(&list_, Qt::Key_Space);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_FALSE(reported->enabled());
  list_.set_enabled(model_.index(0, 0), false);
  EXPECT_EQ(sent_.size(), 2u);
}

TEST_F(PrinterListTest, BusyPrinterLeavesAPrintingTraceAtTheVerboseLevelAndDrawsAsAnIdleOne) {
  auto idle = make_printer("Office");
  auto busy = make_printer("Office");
  busy->setState(5);
  const int32_t before = log_level_threshold();
  set_log_level(log_verbose);

  fill_printer_model(model_, {idle});
  ::testing::internal::CaptureStderr();
  const QImage idle_image = render(list_.viewport());
  const std::string idle_log = ::testing::internal::GetCapturedStderr();

  fill_printer_model(model_, {busy});
  ::testing::internal::CaptureStderr();
  const QImage busy_image = render(list_.viewport());
  const std::string busy_log = ::testing::internal::GetCapturedStderr();
  set_log_level(log_information);
  ::testing::internal::CaptureStderr();
  render(list_.viewport());
  const std::string quiet_log = ::testing::internal::GetCapturedStderr();
  set_log_level(before);

  EXPECT_EQ(idle_log.find("printing"), std::string::npos);
  EXPECT_NE(busy_log.find("printing"), std::string::npos);
  EXPECT_EQ(quiet_log.find("printing"), std::string::npos) << "below the verbose level";
  EXPECT_EQ(idle_image, busy_image);
}

// ---- attribute list

class AttributeListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_.resize(543, 300);
    list_.show();
  }

  /// The rectangle of row `row` across the viewport.
  QRect row_rect(int row) const { return QRect(0, row * 28, list_.viewport()->width(), 28); }

  /// The first column (from the left) of `area` holding a pixel darker than `level`; -1 when none.
  static int first_dark_column(const QImage& image, const QRect& area, int level) {
    for (int x = area.left(); x <= area.right(); ++x)
      if (darkest(image, QRect(x, area.top(), 1, area.height())) < level) return x;
    return -1;
  }

  CAttributeList list_{nullptr, solid_images()};
};

TEST_F(AttributeListTest, RowsFollowTheFeatureBitsAndPaperSizes) {
  auto p = make_printer("Office");
  p->setFeature(model::printer_feature::color, model::feature_offered | model::feature_on);
  p->setFeature(model::printer_feature::landscape, model::feature_offered);
  p->setMedia({model::builtin_media_at(0)});
  list_.set_rows(attribute_rows(*p));
  QAbstractItemModelTester tester(list_.attributes(),
                                  QAbstractItemModelTester::FailureReportingMode::Warning);
  ASSERT_EQ(list_.attributes()->rowCount(), 5);
  EXPECT_EQ(list_.attributes()->columnCount(), 2);
  EXPECT_EQ(list_.columnWidth(0), 30);
  EXPECT_EQ(list_.visualRect(list_.attributes()->index(2, 1)).height(), 28);
  EXPECT_TRUE(list_.isFirstColumnSpanned(0, {}));
  EXPECT_TRUE(list_.isFirstColumnSpanned(3, {}));
  EXPECT_FALSE(list_.isFirstColumnSpanned(1, {}));

  list_.set_edit_mode(true);
  EXPECT_EQ(list_.attributes()->columnCount(), 3);
  EXPECT_EQ(list_.columnWidth(0), 24);
  EXPECT_EQ(list_.columnWidth(1), 30);
  EXPECT_TRUE(list_.isFirstColumnSpanned(3, {}));
  list_.set_edit_mode(false);
  EXPECT_EQ(list_.attributes()->columnCount(), 2);
  EXPECT_EQ(list_.columnWidth(0), 30);
}

// The "PAPER" header's top line is white only when it is row 1 (no feature rows above it).
struct header_case {
  const char* name;
  bool colour_offered;
  int paper_row;
  QColor paper_top_line;
};

class AttributeHeaderTest : public AttributeListTest, public ::testing::WithParamInterface<header_case> {};

TEST_P(AttributeHeaderTest, HeadersHaveTheirGradientAndLines) {
  const header_case& c = GetParam();
  auto p = make_printer("Office");
  if (c.colour_offered) p->setFeature(model::printer_feature::color, model::feature_offered);
  p->setMedia({model::builtin_media_at(0)});
  list_.set_rows(attribute_rows(*p));
  for (bool edit : {false, true}) {
    list_.set_edit_mode(edit);
    const QImage shown = render(list_.viewport());
    const int x = list_.viewport()->width() - 3;  // right of any text
    const QRect features = row_rect(0);
    const QRect paper = row_rect(c.paper_row);
    const char* mode = edit ? "edit mode" : "view mode";
    EXPECT_TRUE(near(shown.pixelColor(x, features.top()), QColor(237, 237, 237), 1)) << mode;
    EXPECT_TRUE(near(shown.pixelColor(x, features.bottom() - 1), QColor(217, 217, 217), 2)) << mode;
    EXPECT_EQ(shown.pixelColor(x, features.bottom()), QColor(185, 185, 185)) << mode;
    EXPECT_EQ(shown.pixelColor(x, paper.top()), c.paper_top_line) << mode;
    EXPECT_TRUE(near(shown.pixelColor(x, paper.top() + 1), QColor(237, 237, 237), 1)) << mode;
    EXPECT_TRUE(near(shown.pixelColor(x, paper.bottom() - 1), QColor(217, 217, 217), 2)) << mode;
    EXPECT_EQ(shown.pixelColor(x, paper.bottom()), QColor(185, 185, 185)) << mode;
    // The bold header text starts 14 pixels from the row's left edge in both modes, in (65, 65, 65).
    const int text_left = first_dark_column(shown, QRect(0, features.top() + 8, 60, 16), 150);
    EXPECT_GE(text_left, 14) << mode;
    EXPECT_LE(text_left, 16) << mode;
    const int level = darkest(shown, QRect(14, features.top() + 8, 80, 16));
    EXPECT_GE(level, 60) << mode;
    EXPECT_LE(level, 72) << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(
    PaperHeader, AttributeHeaderTest,
    ::testing::Values(header_case{"DirectlyUnderFeatures", false, 1, QColor(255, 255, 255)},
                      header_case{"AfterAFeatureRow", true, 2, QColor(218, 218, 218)}),
    [](const ::testing::TestParamInfo<header_case>& info) { return std::string(info.param.name); });

TEST_F(AttributeListTest, OffItemIsFadedAndGreyInViewModeAndBlackWithAnEmptyBoxInEditMode) {
  auto p = make_printer("Office");
  p->setFeature(model::printer_feature::color, model::feature_offered | model::feature_on);
  auto a4 = make_counted<model::media>(*model::builtin_media_at(0));
  a4->setEnabled(false);
  p->setMedia({a4});
  list_.set_rows(attribute_rows(*p));  // FEATURES, Color (on), PAPER, A4 (off)
  const QRect colour = row_rect(1);
  const QRect paper = row_rect(3);

  QImage shown = render(list_.viewport());
  // 30 % of (255, 0, 255) over white.
  EXPECT_TRUE(near(shown.pixelColor(15, paper.top() + 12), QColor(255, 178, 255), 2))
      << "faded: " << shown.pixelColor(15, paper.top() + 12).name().toStdString();
  EXPECT_TRUE(uniform(shown, QRect(0, colour.top() + 2, 30, 26), feature_image_colour)) << "on: full image";
  EXPECT_TRUE(uniform(shown, QRect(0, paper.top(), 30, 2), white)) << "image 2 pixels below the top";
  const int grey = darkest(shown, QRect(34, paper.top() + 8, 200, 18));
  EXPECT_GE(grey, 120);
  EXPECT_LE(grey, 136) << "off text in (128, 128, 128)";
  EXPECT_LT(darkest(shown, QRect(34, colour.top() + 8, 200, 18)), 50) << "on text in black";
  EXPECT_TRUE(uniform(shown, QRect(30, paper.top(), 4, 28), white)) << "text starts 4 pixels in";

  list_.set_edit_mode(true);
  shown = render(list_.viewport());
  const QRect check = attribute_list_delegate::check_rect(QRect(0, paper.top(), 24, 28));
  EXPECT_EQ(check, QRect(4, paper.top() + 8, 16, 16));
  EXPECT_TRUE(uniform(shown, check, unchecked_colour));
  EXPECT_TRUE(
      uniform(shown, attribute_list_delegate::check_rect(QRect(0, colour.top(), 24, 28)), checked_colour));
  EXPECT_TRUE(uniform(shown, QRect(24, paper.top() + 2, 30, 26), feature_image_colour)) << "not faded";
  EXPECT_LT(darkest(shown, QRect(58, paper.top() + 8, 200, 18)), 50) << "black text";
}

TEST_F(AttributeListTest, CheckClicksFlipTheRowValueOnlyInEditMode) {
  auto p = make_printer("Office");
  p->setFeature(model::printer_feature::duplex, model::feature_offered);
  p->setMedia({model::builtin_media_at(0)});
  list_.set_rows(attribute_rows(*p));  // FEATURES, Duplex (off), PAPER, A4 (on)
  const QPoint duplex_check = attribute_list_delegate::check_rect(QRect(0, 28, 24, 28)).center();

  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, duplex_check);
  EXPECT_FALSE(list_.rows()[1].value) << "view mode: no check box";

  list_.set_edit_mode(true);
  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, duplex_check);
  EXPECT_TRUE(list_.rows()[1].value);
  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, QPoint(4 + 8, 3 * 28 + 16));
  EXPECT_FALSE(list_.rows()[3].value);
  QTest::mouseClick(list_.viewport(), Qt::LeftButton, {}, QPoint(12, 16));  // the header has no box
  EXPECT_FALSE(list_.rows()[0].value);
  EXPECT_EQ(p->duplex() & model::feature_on, 0) << "the printer waits for the page to apply";
  EXPECT_TRUE(p->media()[0]->enabled());
}

// ---- user list

TEST(AclListTest, UserImageAndNameWithTheSelectedColour) {
  CACLList list(nullptr, solid_images());
  list.resize(543, 200);
  list.show();
  list.set_names({"alice", QString(300, QLatin1Char('W'))});
  QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::Warning);
  list.select_row(0);
  EXPECT_EQ(list.selected_row(), 0);
  const QImage shown = render(list.viewport());
  EXPECT_EQ(list.visualRect(list.model()->index(1, 0)), QRect(0, 36, 28, 36));
  EXPECT_EQ(acl_list_delegate::image_rect(QRect(0, 0, 28, 36)), QRect(1, 7, 24, 21));
  EXPECT_TRUE(uniform(shown, QRect(1, 7, 24, 21), white)) << "the image in white on the selected row";
  EXPECT_TRUE(uniform(shown, QRect(1, 36 + 7, 24, 21), user_colour));
  EXPECT_EQ(shown.pixelColor(0, 0), selected);
  EXPECT_EQ(shown.pixelColor(300, 2), selected);
  EXPECT_EQ(shown.pixelColor(300, 38), white);
  EXPECT_TRUE(uniform(shown, QRect(28, 36, 4, 36), white)) << "name starts 4 pixels in";
  EXPECT_LT(darkest(shown, QRect(32, 36 + 10, 200, 18)), 50);
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

using namespace quorvane::testing;

// The console's own images are found and drawn where the rules put them.
TEST(ListImagesTest, ConsoleImagesArePaintedInTheirRectangles) {
  const image_loader images = console_images();
  for (const char* name : {"IDI_CHECKED", "IDI_UNCHECKED", "IDI_LOCK", "IDI_COLOR", "IDI_LANDSCAPE",
                           "IDI_DUPLEX", "IDI_PAPER", "IDI_USER"})
    EXPECT_FALSE(images(name).isNull()) << name;

  QStandardItemModel model;
  CPrinterList printers;
  printers.setModel(&model);
  printers.resize(287, 100);
  auto p = make_printer("Office");
  p->setAcl({"alice"});
  fill_printer_model(model, {p});
  QImage shown = render(printers.viewport());
  EXPECT_FALSE(uniform(shown, printer_list_delegate::check_rect(QRect(0, 0, 24, 40)), QColor(Qt::white)));
  EXPECT_FALSE(uniform(shown, printer_list_delegate::lock_rect(QRect(259, 0, 24, 40)), QColor(Qt::white)));

  CAttributeList attributes;
  attributes.resize(543, 200);
  p->setMedia({model::builtin_media_at(0)});
  attributes.set_rows(attribute_rows(*p));
  shown = render(attributes.viewport());
  EXPECT_FALSE(uniform(shown, QRect(0, 2 * 28 + 2, 30, 26), QColor(Qt::white))) << "paper image";

  CACLList users;
  users.resize(543, 100);
  users.set_names({"alice"});
  shown = render(users.viewport());
  EXPECT_FALSE(uniform(shown, acl_list_delegate::image_rect(QRect(0, 0, 28, 36)), QColor(Qt::white)));
}

TEST(SelfDrawnLists, AreFlatUneditableListsOfFixedColumnsSelectingWholeRows) {
  CPrinterList printers(nullptr, solid_images());
  CAttributeList attributes(nullptr, solid_images());
  CACLList users(nullptr, solid_images());
  struct {
    const char* name;
    QTreeView* view;
    QAbstractItemView::SelectionMode selection;
    bool last_column_stretches;
  } cases[] = {
      {"printer list", &printers, QAbstractItemView::SingleSelection, false},
      {"attribute list", &attributes, QAbstractItemView::NoSelection, true},
      {"access list", &users, QAbstractItemView::SingleSelection, true},
  };
  for (const auto& c : cases) {
    QTreeView& v = *c.view;
    EXPECT_TRUE(v.isHeaderHidden()) << c.name;
    EXPECT_FALSE(v.rootIsDecorated()) << c.name;
    EXPECT_EQ(v.indentation(), 0) << c.name;
    EXPECT_TRUE(v.uniformRowHeights()) << c.name;
    EXPECT_FALSE(v.itemsExpandable()) << c.name;
    EXPECT_EQ(v.selectionMode(), c.selection) << c.name;
    EXPECT_EQ(v.selectionBehavior(), QAbstractItemView::SelectRows) << c.name;
    EXPECT_EQ(v.editTriggers(), QAbstractItemView::NoEditTriggers) << c.name;
    EXPECT_EQ(v.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff) << c.name;
    EXPECT_FALSE(v.header()->sectionsMovable()) << c.name;
    EXPECT_EQ(v.header()->minimumSectionSize(), 1) << c.name;
    EXPECT_EQ(v.header()->stretchLastSection(), c.last_column_stretches) << c.name;
    for (int column = 0; column < v.header()->count(); ++column) {
      EXPECT_EQ(v.header()->sectionResizeMode(column), QHeaderView::Fixed) << c.name << " column " << column;
    }
  }
  EXPECT_EQ(attributes.focusPolicy(), Qt::StrongFocus) << "Space reaches the attribute list";
}

// ---- colours by theme

TEST(ListColours, ALightPaletteKeepsTheDesignsColoursAndADarkOneTakesThePalettesReadably) {
  using namespace list_painting;
  QPalette light;
  light.setColor(QPalette::Base, Qt::white);
  light.setColor(QPalette::Text, Qt::black);
  light.setColor(QPalette::Highlight, QColor(0, 120, 215));  // another light theme's selection: not used
  const list_colours design = colours_for(light);
  EXPECT_EQ(design.background, background_colour);
  EXPECT_EQ(design.selected, selected_colour);
  EXPECT_EQ(design.text, text_colour);
  EXPECT_EQ(design.off_text, off_text_colour);
  EXPECT_EQ(design.header_top, header_top_colour);

  QPalette dark;
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, QColor(100, 100, 100));  // too dim to read on the base: made readable
  dark.setColor(QPalette::Button, QColor(60, 60, 60));
  dark.setColor(QPalette::ButtonText, QColor(90, 90, 90));
  dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
  dark.setColor(QPalette::HighlightedText, QColor(240, 240, 240));
  const list_colours c = colours_for(dark);
  EXPECT_EQ(c.background, QColor(30, 30, 30));
  EXPECT_EQ(c.selected, QColor(42, 130, 218));
  struct pair_t {
    const char* name;
    QColor text;
    QColor background;
  } pairs[] = {{"text", c.text, c.background},
               {"location", c.location, c.background},
               {"off text", c.off_text, c.background},
               {"selected text", c.selected_text, c.selected},
               {"header text on the header's top", c.header_text, c.header_top},
               {"header text on the header's bottom", c.header_text, c.header_bottom}};
  for (const pair_t& p : pairs) {
    EXPECT_GE(contrast_ratio(p.text, p.background), readable_contrast) << p.name;
  }
  EXPECT_NE(c.off_text, c.text) << "an off row still looks off";
}

}  // namespace
}  // namespace quorvane
