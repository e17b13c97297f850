#include "ui/layout/dialog_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>

namespace quorvane {
namespace {

using k = control_kind;
namespace s = control_style;

// One row of every kind, at distinct rectangles.
const dialog_control every_kind[] = {
    {-1, k::text, "label", "Address:", 29, 45, 30, 8},
    {1052, k::text, "sample", "Sample: doc.pdf", 16, 26, 260, 8, s::center},
    {1035, k::picture, "picture", "", 259, 103, 64, 59},
    {1030, k::frame, "placeholder", "", 199, 3, 383, 326},
    {-1, k::group_box, "proxyGroup", "Proxy", 7, 9, 268, 95},
    {-1, k::horizontal_line, "line", "", 14, 89, 258, 1},
    {3, k::push_button, "push", "Push", 1, 1, 50, 14},
    {1, k::default_button, "ok", "OK", 241, 144, 50, 14},
    {1018, k::flat_button, "add", "+", 3, 333, 22, 14},
    {4, k::menu_button, "menu", "Menu", 5, 5, 50, 14},
    {1020, k::split_button, "logging", "None", 48, 98, 80, 14},
    {1033, k::check_box, "check", "Start Minimized", 15, 12, 222, 10},
    {5, k::radio_button, "radio", "Radio", 6, 6, 50, 10},
    {1006, k::edit, "address", "", 62, 43, 136, 14, s::read_only | s::disabled},
    {1046, k::edit, "password", "", 62, 81, 136, 14, s::password},
    {6, k::list, "list", "", 7, 7, 50, 50},
    {1003, k::report_list, "printers", "", 3, 3, 191, 326},
    {7, k::progress, "progress", "", 8, 8, 50, 14},
    {1015, k::marquee, "marquee", "", 219, 188, 141, 14, s::hidden},
    {8, k::tab_holder, "tabs", "", 9, 9, 100, 100},
    {1023, k::custom, "port", "", 220, 43, 40, 14},
};

template <class T>
bool is_exactly(const QWidget* w) {
  return w && typeid(*w) == typeid(T);
}

class DialogLayout : public testing::Test {
 protected:
  void SetUp() override {
    layout =
        dialog_layout::build(&parent, nullptr, every_kind, units, [](const dialog_control& row, QWidget* p) {
          auto* edit = new QLineEdit(p);
          edit->setPlaceholderText(QString::fromUtf8(row.name));
          return edit;
        });
  }
  QWidget parent;
  dialog_units units{6, 13};
  dialog_layout layout;
};

TEST_F(DialogLayout, EveryRowBecomesAChildWithItsNameIdAndGeometry) {
  ASSERT_EQ(layout.widgets().size(), std::size(every_kind));
  for (size_t i = 0; i < std::size(every_kind); ++i) {
    const dialog_control& row = every_kind[i];
    QWidget* w = layout.widgets()[i];
    ASSERT_TRUE(w) << row.name;
    EXPECT_EQ(w->parentWidget(), &parent) << row.name;
    EXPECT_EQ(w->objectName(), QString::fromUtf8(row.name));
    EXPECT_EQ(w->property("ctrlId").toInt(), row.id) << row.name;
    EXPECT_EQ(w->geometry(), units.rect(row.x, row.y, row.w, row.h)) << row.name;
    if (row.id != no_control_id) {
      EXPECT_EQ(layout.control(row.id), w) << row.name;
    }
  }
}

TEST_F(DialogLayout, EachKindMakesItsWidgetClass) {
  EXPECT_TRUE(is_exactly<QLabel>(layout.control(1052)));
  EXPECT_TRUE(is_exactly<QLabel>(layout.control(1035)));
  EXPECT_TRUE(is_exactly<QFrame>(layout.control(1030)));
  EXPECT_TRUE(is_exactly<QPushButton>(layout.control(3)));
  EXPECT_TRUE(is_exactly<QCheckBox>(layout.control(1033)));
  EXPECT_TRUE(is_exactly<QRadioButton>(layout.control(5)));
  EXPECT_TRUE(is_exactly<QLineEdit>(layout.control(1006)));
  EXPECT_TRUE(is_exactly<QListView>(layout.control(6)));
  EXPECT_TRUE(is_exactly<QTreeView>(layout.control(1003)));
  EXPECT_TRUE(is_exactly<QProgressBar>(layout.control(7)));
  EXPECT_TRUE(is_exactly<QTabWidget>(layout.control(8)));
  EXPECT_TRUE(is_exactly<QToolButton>(layout.control(1020)));
  EXPECT_TRUE(is_exactly<QGroupBox>(parent.findChild<QWidget*>("proxyGroup")));
  auto* line = parent.findChild<QFrame*>("line");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->frameShape(), QFrame::HLine);
}

TEST_F(DialogLayout, KindsAndStylesSetTheirProperties) {
  EXPECT_EQ(layout.find<QLabel>(1052)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(layout.find<QLabel>(1052)->text(), QStringLiteral("Sample: doc.pdf"));
  EXPECT_TRUE(layout.find<QPushButton>(1)->isDefault());
  EXPECT_TRUE(layout.find<QPushButton>(1018)->isFlat());
  EXPECT_TRUE(layout.find<QPushButton>(4)->menu());
  auto* logging = layout.find<QToolButton>(1020);
  EXPECT_EQ(logging->popupMode(), QToolButton::MenuButtonPopup);
  EXPECT_TRUE(logging->menu());
  EXPECT_EQ(layout.find<QLineEdit>(1046)->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(layout.find<QLineEdit>(1006)->isReadOnly());
  EXPECT_FALSE(layout.control(1006)->isEnabled());
  EXPECT_EQ(layout.find<QProgressBar>(1015)->maximum(), 0) << "a marquee has the range 0..0";
  EXPECT_EQ(layout.find<QProgressBar>(7)->maximum(), 100);
  EXPECT_TRUE(layout.find<QTreeView>(1003)->isHeaderHidden());
  parent.show();
  EXPECT_FALSE(layout.control(1015)->isVisible());
  EXPECT_TRUE(layout.control(1052)->isVisible());
}

TEST_F(DialogLayout, CustomRowsComeFromTheFactory) {
  auto* port = layout.find<QLineEdit>(1023);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->placeholderText(), QStringLiteral("port"));
}

TEST_F(DialogLayout, LookupsOfAWrongTypeOrUnknownIdGiveNull) {
  EXPECT_EQ(layout.find<QCheckBox>(1006), nullptr);
  EXPECT_EQ(layout.control(4242), nullptr);
  EXPECT_EQ(layout.control(no_control_id), nullptr) << "unnamed controls are not kept by id";
  EXPECT_EQ(find_control<QCheckBox>(&parent, 1033), layout.control(1033));
  EXPECT_EQ(find_control<QPushButton>(&parent, 1033), nullptr);
}

TEST(DialogLayoutBuild, ACustomRowWithoutAFactoryIsLeftOut) {
  QWidget parent;
  const dialog_control table[] = {{1, k::custom, "x", "", 0, 0, 10, 10}, {2, k::edit, "y", "", 0, 0, 10, 10}};
  const dialog_layout layout = dialog_layout::build(&parent, nullptr, table, dialog_units(6, 13));
  EXPECT_EQ(layout.control(1), nullptr);
  EXPECT_TRUE(layout.control(2));
  EXPECT_EQ(layout.widgets().size(), 1u);
}

TEST(DialogLayoutBuild, ADeletedControlIsNoLongerFound) {
  QWidget parent;
  const dialog_control table[] = {{2, k::edit, "y", "", 0, 0, 10, 10}};
  const dialog_layout layout = dialog_layout::build(&parent, nullptr, table, dialog_units(6, 13));
  delete layout.control(2);
  EXPECT_EQ(layout.control(2), nullptr);
}

// ---- a dialog larger or smaller than its table

TEST(AnchoredRect, EachFollowRuleMovesOrSizesItsAxis) {
  const QRect design(10, 20, 100, 50);
  struct case_t {
    const char* name;
    control_anchor anchor;
    QSize extra;
    QRect want;
  } cases[] = {
      // Unchanged size: every rule keeps the table's rectangle.
      {"grow, no change", {follow::grow, follow::grow}, {0, 0}, design},
      {"centre, no change", {follow::centre, follow::centre}, {0, 0}, design},
      // Larger.
      {"fixed", {follow::fixed, follow::fixed}, {40, 30}, design},
      {"grow both", {follow::grow, follow::grow}, {40, 30}, {10, 20, 140, 80}},
      {"move down", {follow::fixed, follow::move}, {40, 30}, {10, 50, 100, 50}},
      {"centre", {follow::centre, follow::centre}, {40, 30}, {30, 35, 100, 50}},
      {"centre by an odd amount", {follow::centre, follow::fixed}, {5, 0}, {12, 20, 100, 50}},
      // Smaller.
      {"shrink", {follow::grow, follow::grow}, {-40, -30}, {10, 20, 60, 20}},
      {"move up", {follow::fixed, follow::move}, {0, -30}, {10, -10, 100, 50}},
      {"centre back by an odd amount", {follow::centre, follow::fixed}, {-5, 0}, {7, 20, 100, 50}},
      {"shrunk past nothing is empty, not negative",
       {follow::grow, follow::grow},
       {-300, -300},
       {10, 20, 0, 0}},
  };
  for (const case_t& c : cases) {
    EXPECT_EQ(anchored_rect(design, c.anchor, c.extra), c.want) << c.name;
  }
}

TEST(DialogLayoutFit, ControlsFollowTheirAnchorsAndComeBackToTheTable) {
  QWidget parent;
  const dialog_control table[] = {
      {1, k::custom, "list", "", 4, 4, 100, 100, s::none, {follow::fixed, follow::grow}},
      {2, k::flat_button, "plus", "+", 4, 110, 20, 14, s::none, {follow::fixed, follow::move}},
      {3, k::text, "label", "x", 110, 4, 50, 8},
  };
  const dialog_units units(6, 13);
  const dialog_layout layout = dialog_layout::build(
      &parent, nullptr, table, units, [](const dialog_control&, QWidget* p) { return new QWidget(p); });
  layout.fit(QSize(30, 60));
  EXPECT_EQ(layout.control(1)->geometry(), units.rect(4, 4, 100, 100).adjusted(0, 0, 0, 60));
  EXPECT_EQ(layout.control(2)->geometry(), units.rect(4, 110, 20, 14).translated(0, 60));
  EXPECT_EQ(layout.control(3)->geometry(), units.rect(110, 4, 50, 8)) << "a row without an anchor stays";
  layout.fit(QSize(0, 0));
  for (const dialog_control& row : table) {
    EXPECT_EQ(layout.control(row.id)->geometry(), units.rect(row.x, row.y, row.w, row.h)) << row.name;
  }
}

// ---- texts cut in the middle

TEST(ElidedLabel, ALongTextKeepsItsEndsAndOffersTheWholeTextOnlyWhenCut) {
  QWidget parent;
  const dialog_control table[] = {{1, k::text, "folder", "", 10, 10, 60, 8, s::elide}};
  const dialog_layout layout = dialog_layout::build(&parent, nullptr, table, dialog_units(6, 13));
  auto* label = layout.find<elided_label>(1);
  ASSERT_TRUE(label) << "an elide row makes an elided_label";
  EXPECT_FALSE(label->wordWrap());

  const QString path = QStringLiteral("/home/someone/Documents/Projects/Quarterly/2026/printed-reports");
  label->setText(path);
  EXPECT_EQ(label->text(), path) << "text() stays whole (edit mode copies it)";
  ASSERT_TRUE(label->is_elided());
  const QString shown = label->shown_text();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/ho"))) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral("rts"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
  EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width());

  // The tooltip is the whole text while the text is cut, and there is none once it fits.
  QHelpEvent ask(QEvent::ToolTip, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
  parent.show();
  QApplication::sendEvent(label, &ask);
  EXPECT_TRUE(QToolTip::isVisible());
  EXPECT_EQ(QToolTip::text(), path);
  QToolTip::hideText();

  label->setText(QStringLiteral("Office"));
  EXPECT_FALSE(label->is_elided());
  EXPECT_EQ(label->shown_text(), QStringLiteral("Office"));
  QHelpEvent again(QEvent::ToolTip, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(label, &again);
  EXPECT_FALSE(QToolTip::isVisible() && QToolTip::text() == QStringLiteral("Office"));

  // Widened, the same long path fits whole.
  label->setText(path);
  label->resize(label->fontMetrics().horizontalAdvance(path) + 4, label->height());
  EXPECT_FALSE(label->is_elided());
}

}  // namespace
}  // namespace quorvane
