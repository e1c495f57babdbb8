// What the toolkit's controls decide, tested without windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/browser_model.h"
#include "toolkit/layout_model.h"
#include "toolkit/list_model.h"
#include "toolkit/message_box_model.h"
#include "toolkit/scheme_model.h"
#include "toolkit/tree_model.h"

namespace keldrun {
namespace {

// ---- colour scheme and button colours ----

TEST(ColourScheme, HoldsTheProgramsValuesInOrder) {
  const ColourScheme& s = defaultScheme();
  EXPECT_EQ(s[SchemeColour::kFrame], rgb(0x3e, 0x8b, 0x9f));
  EXPECT_EQ(s[SchemeColour::kMask], rgb(0xff, 0x00, 0xff));
  EXPECT_EQ(s[SchemeColour::kDialogBackground], rgb(0xcf, 0xd9, 0xe2));
  EXPECT_EQ(s[SchemeColour::kArrowFill], rgb(0xc1, 0xd2, 0xed));
  EXPECT_EQ(s[SchemeColour::kArrowLight], rgb(0xed, 0xf7, 0xff));
  EXPECT_EQ(s[SchemeColour::kArrowDark], rgb(0x00, 0x24, 0x80));
  EXPECT_EQ(s[SchemeColour::kHeaderBackground], rgb(0xbe, 0xc4, 0xce));
  EXPECT_EQ(s[SchemeColour::kHeaderText], rgb(0, 0, 0));
  EXPECT_EQ(s[SchemeColour::kPageBackground], rgb(0xec, 0xf6, 0xff));
  EXPECT_EQ(s[SchemeColour::kTransparent], rgb(0xff, 0x00, 0xff));
  EXPECT_EQ(int(SchemeColour::kCount), 27);
}

TEST(ColourScheme, ColourLayoutMatchesWin32) {
  // COLORREF keeps red in the low byte.
  EXPECT_EQ(rgb(0x12, 0x34, 0x56), 0x00563412u);
  EXPECT_EQ(redOf(0x00563412u), 0x12);
  EXPECT_EQ(greenOf(0x00563412u), 0x34);
  EXPECT_EQ(blueOf(0x00563412u), 0x56);
}

TEST(ButtonColours, CustomFaceDarkensAndEdgesClamp) {
  const Colour face = rgb(250, 20, 128);
  ButtonColours normal = buttonColours(defaultScheme(), ButtonLook::kNormal, true, face);
  ButtonColours hover = buttonColours(defaultScheme(), ButtonLook::kHover, true, face);
  ButtonColours pressed = buttonColours(defaultScheme(), ButtonLook::kPressed, true, face);
  EXPECT_EQ(normal.face, face);
  EXPECT_EQ(hover.face, rgb(240, 10, 118));
  EXPECT_EQ(pressed.face, rgb(240, 10, 118));
  EXPECT_EQ(normal.lightEdge, rgb(255, 70, 178));
  EXPECT_EQ(normal.darkEdge, rgb(200, 0, 78));
  EXPECT_EQ(shade(rgb(5, 250, 100), -10), rgb(0, 240, 90));
  EXPECT_EQ(shade(rgb(5, 250, 100), 10), rgb(15, 255, 110));
}

TEST(ButtonColours, DisabledTextIsGreyedAndHoverDiffersFromNormal) {
  const ColourScheme& s = defaultScheme();
  EXPECT_EQ(buttonColours(s, ButtonLook::kDisabled, false, 0).text, s[SchemeColour::kDisabledText]);
  EXPECT_EQ(buttonColours(s, ButtonLook::kNormal, false, 0).text, s[SchemeColour::kText]);
  EXPECT_NE(buttonColours(s, ButtonLook::kHover, false, 0).face,
            buttonColours(s, ButtonLook::kNormal, false, 0).face);
}

// ---- virtual list rows and sorting ----

std::vector<std::u16string> column(const VirtualListModel& m, int c) {
  std::vector<std::u16string> out;
  for (size_t i = 0; i < m.size(); ++i) out.push_back(m.text(i, c));
  return out;
}

VirtualListModel sample() {
  VirtualListModel m;
  m.setColumns({u"Name", u"Size", u"Label", u"Count", u"State"},
               {kSortText, kSortNumber, kSortNone, kSortNumberAlso, kSortNoneAlso});
  m.addRow({u"beta", u"100", u"x", u"7", u"a"});
  m.addRow({u"Alpha", u"9", u"y", u"10", u"b"});
  m.addRow({u"gamma", u"25", u"z", u"3", u"c"});
  m.addRow({u"ALPHA2", u"1000", u"w", u"3", u"d"});
  return m;
}

TEST(VirtualListModel, TextColumnsSortIgnoringCase) {
  VirtualListModel m = sample();
  ASSERT_TRUE(m.clickColumn(0));
  EXPECT_EQ(column(m, 0), (std::vector<std::u16string>{u"Alpha", u"ALPHA2", u"beta", u"gamma"}));
  EXPECT_EQ(m.sortColumn(), 0);
  EXPECT_TRUE(m.sortAscending());
}

TEST(VirtualListModel, NumberColumnsPutShorterTextsFirst) {
  VirtualListModel m = sample();
  ASSERT_TRUE(m.clickColumn(1));
  EXPECT_EQ(column(m, 1), (std::vector<std::u16string>{u"9", u"25", u"100", u"1000"}));
  ASSERT_TRUE(m.clickColumn(3));  // the other number type
  EXPECT_EQ(column(m, 3).front(), u"3");
  EXPECT_EQ(column(m, 3).back(), u"10");
}

TEST(VirtualListModel, SecondClickSortsDescendingThirdAscendingAgain) {
  VirtualListModel m = sample();
  m.clickColumn(1);
  m.clickColumn(1);
  EXPECT_FALSE(m.sortAscending());
  EXPECT_EQ(column(m, 1), (std::vector<std::u16string>{u"1000", u"100", u"25", u"9"}));
  m.clickColumn(1);
  EXPECT_TRUE(m.sortAscending());
  EXPECT_EQ(column(m, 1).front(), u"9");
  // Another column starts ascending whatever the last direction was.
  m.clickColumn(1);
  m.clickColumn(0);
  EXPECT_TRUE(m.sortAscending());
}

TEST(VirtualListModel, UnsortedTypesAndBadColumnsChangeNothing) {
  for (int col : {2, 4, 5, -1}) {
    VirtualListModel m = sample();
    std::vector<std::u16string> before = column(m, 0);
    EXPECT_FALSE(m.clickColumn(col)) << col;
    EXPECT_EQ(column(m, 0), before) << col;
    EXPECT_EQ(m.sortColumn(), -1) << col;
  }
}

TEST(VirtualListModel, MarkingAColumnSortedMovesNoRowAndTheNextClickReverses) {
  VirtualListModel m = sample();
  std::vector<std::u16string> before = column(m, 0);
  m.markSorted(1, true);
  EXPECT_EQ(m.sortColumn(), 1);
  EXPECT_EQ(column(m, 0), before);
  m.clickColumn(1);  // already ascending: descending now
  EXPECT_FALSE(m.sortAscending());
  m.markSorted(99, true);  // out of range: no column
  EXPECT_EQ(m.sortColumn(), -1);
}

int byLastCharAscending(const VirtualRow& a, const VirtualRow& b, int c) {
  return int(a.texts[size_t(c)].back()) - int(b.texts[size_t(c)].back());
}
int byLastCharDescending(const VirtualRow& a, const VirtualRow& b, int c) {
  return -byLastCharAscending(a, b, c);
}

TEST(VirtualListModel, OwnComparisonsReplaceTheSortType) {
  VirtualListModel m = sample();
  m.setColumnCompare(2, byLastCharAscending, byLastCharDescending);  // an unsorted type
  ASSERT_TRUE(m.clickColumn(2));
  EXPECT_EQ(column(m, 2), (std::vector<std::u16string>{u"w", u"x", u"y", u"z"}));
  ASSERT_TRUE(m.clickColumn(2));
  EXPECT_EQ(column(m, 2), (std::vector<std::u16string>{u"z", u"y", u"x", u"w"}));
}

TEST(VirtualListModel, RowsKeepTheirColoursImagesAndDataWhenSorted) {
  VirtualListModel m;
  m.setDefaultBackground(rgb(1, 2, 3));
  m.setColumns({u"Name"});
  size_t b = m.addRow({u"b"});
  size_t a = m.addRow({u"a"});
  EXPECT_EQ(m.row(a).background, rgb(1, 2, 3));
  EXPECT_EQ(m.row(a).text, rgb(0, 0, 0));
  m.row(b).text = rgb(200, 30, 30);
  m.row(b).image = 4;
  m.row(b).data = 77;
  m.clickColumn(0);
  EXPECT_EQ(m.text(1, 0), u"b");
  EXPECT_EQ(m.row(1).text, rgb(200, 30, 30));
  EXPECT_EQ(m.row(1).image, 4);
  EXPECT_EQ(m.row(1).data, 77u);
  // A missing column reads as empty and sorts first.
  m.addRow({});
  m.sortBy(0, true);
  EXPECT_EQ(m.text(0, 0), u"");
  EXPECT_EQ(m.text(99, 0), u"");
}

TEST(VirtualListModel, LargeListsSortInAnyStartingOrder) {
  const int n = 200000;
  for (int order = 0; order < 4; ++order) {
    VirtualListModel m;
    m.setColumns({u"Value"}, {kSortNumber});
    for (int i = 0; i < n; ++i) {
      int v = order == 0 ? i : order == 1 ? n - i : order == 2 ? 5 : (i * 7919) % n;
      std::string s = std::to_string(v);
      m.addRow({std::u16string(s.begin(), s.end())});
    }
    ASSERT_TRUE(m.sortBy(0, true));
    for (size_t i = 1; i < m.size(); ++i) {
      ASSERT_LE(compareNumberText(m.text(i - 1, 0), m.text(i, 0)), 0) << "order " << order;
    }
  }
}

int inconsistent(const VirtualRow&, const VirtualRow&, int) { return -1; }

TEST(VirtualListModel, ComparisonThatIsNotAnOrderKeepsEveryRow) {
  VirtualListModel m;
  m.setColumns({u"Value"});
  for (int i = 0; i < 1000; ++i) m.addRow({std::u16string(1, char16_t(u'a' + i % 26))});
  m.setColumnCompare(0, inconsistent, inconsistent);
  ASSERT_TRUE(m.sortBy(0, true));
  EXPECT_EQ(m.size(), 1000u);
  std::vector<int> counts(26);
  for (size_t i = 0; i < m.size(); ++i) counts[size_t(m.text(i, 0)[0] - u'a')]++;
  for (int c = 0; c < 26; ++c) EXPECT_GE(counts[size_t(c)], 38);
}

TEST(VirtualListModel, FoldedTextOrder) {
  EXPECT_EQ(compareTextFolded(u"ABC", u"abc"), 0);
  EXPECT_LT(compareTextFolded(u"ab", u"ABC"), 0);
  EXPECT_EQ(compareTextFolded(u"\u00C4x", u"\u00E4X"), 0);  // Latin-1 letters fold too
  EXPECT_LT(compareNumberText(u"99", u"100"), 0);
  EXPECT_GT(compareNumberText(u"b1", u"A1"), 0);
}

TEST(FillColumn, TakesTheRestOfTheWidthButAtLeastTheMinimum) {
  EXPECT_EQ(fillColumnWidth(500, {100, 100, 50}, 2, 20), 500 - 25 - 200);
  EXPECT_EQ(fillColumnWidth(200, {100, 100, 50}, 2, 80), 80);
  EXPECT_EQ(fillColumnWidth(400, {120, 999}, 1, 0), 400 - 25 - 120);
}

// ---- anchor layout ----

TEST(AnchorLayout, FirstApplyOnlyRecordsTheSize) {
  AnchorLayout l;
  l.add(1, kAnchorGrowRight | kAnchorGrowBottom, LayoutRect{5, 5, 395, 265});
  std::vector<AnchorLayout::Placement> out;
  EXPECT_FALSE(l.apply(400, 300, &out));
  EXPECT_TRUE(out.empty());
}

TEST(AnchorLayout, ControlsFollowTheirFlags) {
  struct Case {
    int flags;
    LayoutRect expect;
  } cases[] = {
      {0, LayoutRect{10, 20, 110, 40}},
      {kAnchorGrowRight, LayoutRect{10, 20, 160, 40}},
      {kAnchorGrowBottom, LayoutRect{10, 20, 110, 70}},
      {kAnchorMoveRight, LayoutRect{60, 20, 160, 40}},
      {kAnchorMoveDown, LayoutRect{10, 50, 110, 70}},
      {kAnchorMoveRight | kAnchorMoveDown, LayoutRect{60, 50, 160, 70}},
      {kAnchorGrowRight | kAnchorGrowBottom, LayoutRect{10, 20, 160, 70}},
  };
  for (const Case& c : cases) {
    AnchorLayout l;
    l.add(7, c.flags, LayoutRect{10, 20, 110, 40});
    std::vector<AnchorLayout::Placement> out;
    l.apply(200, 100, &out);
    ASSERT_TRUE(l.apply(250, 130, &out));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].key, 7u);
    EXPECT_EQ(out[0].rect, c.expect) << "flags " << c.flags;
    // Back to the first size: back to the first place.
    l.apply(200, 100, &out);
    EXPECT_EQ(out[0].rect, (LayoutRect{10, 20, 110, 40})) << "flags " << c.flags;
  }
}

TEST(AnchorLayout, AddingAgainReplacesFlagsAndShrinkingNeverInvertsARect) {
  AnchorLayout l;
  l.add(1, kAnchorMoveRight, LayoutRect{10, 10, 50, 30});
  l.add(1, kAnchorGrowRight | kAnchorGrowBottom, LayoutRect{10, 10, 50, 30});
  std::vector<AnchorLayout::Placement> out;
  l.apply(100, 100, &out);
  l.apply(20, 20, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rect.left, 10);
  EXPECT_GE(out[0].rect.width(), 0);
  EXPECT_GE(out[0].rect.height(), 0);
}

TEST(AnchorLayout, ControlAddedAfterTheStartUsesTheSizeAtThatTime) {
  AnchorLayout l;
  std::vector<AnchorLayout::Placement> out;
  l.apply(100, 100, &out);
  l.apply(300, 200, &out);
  l.add(2, kAnchorMoveRight, LayoutRect{250, 10, 290, 30});
  l.apply(320, 200, &out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rect, (LayoutRect{270, 10, 310, 30}));
}

// ---- tab strip, sort arrow, menu items, button contents ----

TEST(TabStripLayout, TabsAreTextPlusSixteenAndScrollWhenTooWide) {
  TabStripLayout t;
  t.layout(400, 20);
  t.setTabs({50, 40, 60});
  EXPECT_FALSE(t.scrollButtonsShown());
  EXPECT_EQ(t.tabRect(0), (LayoutRect{0, 0, 66, 20}));
  EXPECT_EQ(t.tabRect(1), (LayoutRect{66, 0, 122, 20}));
  EXPECT_EQ(t.hitTest(70, 5), 1);
  EXPECT_EQ(t.hitTest(399, 5), -1);
  EXPECT_FALSE(t.scrollRight());

  t.layout(150, 20);
  ASSERT_TRUE(t.scrollButtonsShown());
  EXPECT_EQ(t.leftButton(), (LayoutRect{0, 0, 20, 20}));
  EXPECT_EQ(t.rightButton(), (LayoutRect{130, 0, 150, 20}));
  EXPECT_EQ(t.tabRect(0).left, 20);
  EXPECT_EQ(t.hitTest(5, 5), -1);  // a scroll button, not a tab
  ASSERT_TRUE(t.scrollRight());
  EXPECT_EQ(t.tabRect(0), LayoutRect());
  EXPECT_EQ(t.tabRect(1).left, 20);
  EXPECT_EQ(t.hitTest(25, 5), 1);
  ASSERT_TRUE(t.scrollRight());
  EXPECT_FALSE(t.scrollRight());
  ASSERT_TRUE(t.scrollLeft());
  ASSERT_TRUE(t.scrollLeft());
  EXPECT_FALSE(t.scrollLeft());
  // Wide again: the buttons go and every tab shows from the first.
  t.scrollRight();
  t.layout(1000, 20);
  EXPECT_FALSE(t.scrollButtonsShown());
  EXPECT_EQ(t.firstVisible(), 0u);
}

TEST(SortArrow, PointsUpAscendingDownDescendingInsideTheItem) {
  LayoutRect item{100, 0, 200, 20};
  SortArrow up = sortArrow(item, true);
  SortArrow down = sortArrow(item, false);
  EXPECT_LT(up.y[0], up.y[1]);
  EXPECT_EQ(up.y[1], up.y[2]);
  EXPECT_EQ(down.y[0], down.y[1]);
  EXPECT_GT(down.y[2], down.y[0]);
  for (const SortArrow& a : {up, down}) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_GE(a.x[i], item.left);
      EXPECT_LE(a.x[i], item.right);
      EXPECT_GE(a.y[i], 5);   // a quarter of the height from the top
      EXPECT_LE(a.y[i], 15);  // and from the bottom
    }
    EXPECT_LE(a.textArea.right, a.arrowArea.left);
    EXPECT_EQ(a.textArea.left, item.left);
  }
}

TEST(MenuItems, TwentyHighTextPlusThirtySeparatorsFour) {
  EXPECT_EQ(menuItemSize(false, 70).width, 100);
  EXPECT_EQ(menuItemSize(false, 70).height, 20);
  EXPECT_EQ(menuItemSize(true, 70).height, 4);
}

TEST(ButtonContent, IconAtSixTextSixteenFurtherPressedMovesOne) {
  LayoutRect client{0, 0, 100, 22};
  ButtonContent c = buttonContent(client, true, true, false);
  EXPECT_EQ(c.iconX, 6);
  EXPECT_EQ(c.iconY, 3);
  EXPECT_EQ(c.text.left, 22);
  EXPECT_FALSE(c.centreText);
  EXPECT_EQ(c.focus, (LayoutRect{2, 2, 98, 20}));
  ButtonContent p = buttonContent(client, true, true, true);
  EXPECT_EQ(p.iconX, 7);
  EXPECT_EQ(p.iconY, 4);
  EXPECT_EQ(p.text.left, 23);
  EXPECT_EQ(p.text.top, 1);
  ButtonContent iconOnly = buttonContent(client, true, false, false);
  EXPECT_EQ(iconOnly.iconX, 42);
  ButtonContent textOnly = buttonContent(client, false, true, false);
  EXPECT_TRUE(textOnly.centreText);
  EXPECT_EQ(textOnly.text.left, 0);
}

TEST(Splitter, KeepsBothPanesAtLeastTheMinimum) {
  EXPECT_EQ(clampSplitter(5, 500, 4, 20), 20);
  EXPECT_EQ(clampSplitter(490, 500, 4, 20), 476);
  EXPECT_EQ(clampSplitter(200, 500, 4, 20), 200);
}

// ---- message box ----

int fixedWidth(const std::u16string& line) { return int(line.size()) * 6; }

TEST(MessageBoxLayout, OneLineOkHasOneOkInTheMiddle) {
  MessageBoxLayout l =
      layoutMessageBox(u"Export done.", kButtonsOk, MessageBoxKind::kInformation, fixedWidth);
  ASSERT_EQ(l.buttons.size(), 1u);
  EXPECT_EQ(l.buttons[0].id, kMessageButton1);
  EXPECT_EQ(l.buttons[0].text, u"Ok");
  EXPECT_EQ(l.buttons[0].icon, 0);
  int w = 12 * 6;
  EXPECT_EQ(l.textWidth, w);
  EXPECT_EQ(l.buttons[0].rect, (LayoutRect{(w + 15) / 2, 65, (w + 15) / 2 + 70, 87}));
  EXPECT_EQ(l.text, (LayoutRect{70, 20, 70 + w + 5, 35}));
  EXPECT_EQ(l.width, w + 90);
  EXPECT_EQ(l.height, 125);
  EXPECT_EQ(messageResultForButton(l.buttons[0].id), kResultYes);
  // The button sits in the middle of the box to within the frame's few pixels.
  int centre = (l.buttons[0].rect.left + l.buttons[0].rect.right) / 2;
  EXPECT_NEAR(centre, l.width / 2, 3);
}

TEST(MessageBoxLayout, ThreeLinesAreFortyFivePixelsTaller) {
  MessageBoxLayout one = layoutMessageBox(u"a", kButtonsOk, MessageBoxKind::kError, fixedWidth);
  MessageBoxLayout three =
      layoutMessageBox(u"a\nbb\nccc", kButtonsOk, MessageBoxKind::kError, fixedWidth);
  EXPECT_EQ(three.lineCount, 3);
  EXPECT_EQ(three.text.height() - one.text.height(), 30);
  EXPECT_EQ(three.height - one.height, 30);
  // A final line feed starts no new line.
  EXPECT_EQ(layoutMessageBox(u"a\nbb\nccc\n", kButtonsOk, MessageBoxKind::kError, fixedWidth).lineCount,
            3);
  EXPECT_EQ(messageLines(u"").size(), 1u);
  EXPECT_EQ(messageLines(u"x\n\ny"), (std::vector<std::u16string>{u"x", u"", u"y"}));
}

TEST(MessageBoxLayout, ShortQuestionsUseTheMinimumWidths) {
  MessageBoxLayout ync = layoutMessageBox(u"?", kButtonsYesNoCancel, MessageBoxKind::kWarning, fixedWidth);
  EXPECT_EQ(ync.textWidth, 150);
  ASSERT_EQ(ync.buttons.size(), 3u);
  EXPECT_EQ(ync.buttons[0].rect.left, 5);
  EXPECT_EQ(ync.buttons[1].rect.left, (150 + 15) / 2);
  EXPECT_EQ(ync.buttons[2].rect.left, 159);
  EXPECT_EQ(ync.buttons[2].text, u"Cancel");
  EXPECT_EQ(ync.width, 240);
  EXPECT_LE(ync.buttons[2].rect.right, ync.width);

  MessageBoxLayout yn = layoutMessageBox(u"?", kButtonsYesNo, MessageBoxKind::kWarning, fixedWidth);
  EXPECT_EQ(yn.textWidth, 90);
  ASSERT_EQ(yn.buttons.size(), 2u);
  EXPECT_EQ(yn.buttons[0].rect.left, (90 + 90) / 2 - 80);
  EXPECT_EQ(yn.buttons[1].rect.left, (90 + 90) / 2 + 10);
  EXPECT_EQ(yn.buttons[0].icon, 0);
  EXPECT_EQ(yn.buttons[1].icon, 1);

  // Long texts are not cut to the minimum.
  std::u16string longText(60, u'x');
  EXPECT_EQ(layoutMessageBox(longText, kButtonsYesNo, MessageBoxKind::kWarning, fixedWidth).textWidth, 360);
}

TEST(MessageBoxLayout, KindsGiveCaptionsAndOkIcons) {
  struct Case {
    MessageBoxKind kind;
    const char16_t* caption;
    int okIcon;
  } cases[] = {{MessageBoxKind::kError, u"Error", 1},
               {MessageBoxKind::kWarning, u"Warning", -1},
               {MessageBoxKind::kInformation, u"Info", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(std::u16string(messageCaption(c.kind)), c.caption);
    MessageBoxLayout l = layoutMessageBox(u"m", kButtonsOk, c.kind, fixedWidth);
    EXPECT_EQ(l.buttons[0].icon, c.okIcon);
  }
}

TEST(MessageBoxLayout, ResultsAndDefaultCancel) {
  EXPECT_EQ(messageResultForButton(kMessageButton1), 6);
  EXPECT_EQ(messageResultForButton(kMessageButton2), 7);
  EXPECT_EQ(messageResultForButton(kMessageButton3), 2);
  EXPECT_TRUE(layoutMessageBox(u"q", kButtonsYesNoCancel | kDefaultThirdButton,
                               MessageBoxKind::kWarning, fixedWidth)
                  .cancelHasFocus);
  EXPECT_FALSE(layoutMessageBox(u"q", kButtonsYesNoCancel, MessageBoxKind::kWarning, fixedWidth)
                   .cancelHasFocus);
  // An unknown set is shown as OK.
  EXPECT_EQ(layoutMessageBox(u"q", 9, MessageBoxKind::kWarning, fixedWidth).buttons.size(), 1u);
}

// ---- browser decisions ----

TEST(BrowserModel, NavigationTargetDropsTheBlankTail) {
  EXPECT_EQ(navigationTarget(u"about:blank"), u"about:blank");
  EXPECT_EQ(navigationTarget(u"http://x/a.htm"), u"http://x/a.htm");
  EXPECT_EQ(navigationTarget(u"#003\u00A0\u00A0about:blank"), u"#003");
  // Twelve or thirteen characters: nothing is left rather than reading before the start.
  EXPECT_EQ(navigationTarget(u"xabout:blank"), u"");
  EXPECT_EQ(navigationTarget(u"xyabout:blank"), u"");
  EXPECT_TRUE(isBrowserErrorPage(u"res://C:\\x\\shdoclc.dll/dnserror.htm#http://a/"));
  EXPECT_FALSE(isBrowserErrorPage(u"http://a/dnserror.htm"));
}

TEST(BrowserModel, PendingTextCollectsWritesFromSeveralThreads) {
  PendingText p;
  EXPECT_TRUE(p.empty());
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&p, t] {
      for (int i = 0; i < 1000; ++i) p.append(std::u16string(1, char16_t(u'a' + t)));
    });
  }
  for (auto& w : writers) w.join();
  std::u16string all = p.take();
  EXPECT_EQ(all.size(), 4000u);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(std::count(all.begin(), all.end(), char16_t(u'a' + t)), 1000);
  EXPECT_TRUE(p.empty());
  EXPECT_EQ(p.take(), u"");
}

TEST(BrowserModel, PlainTextOfHtml) {
  struct Case {
    const char16_t* html;
    const char16_t* text;
  } cases[] = {
      {u"<html><body>Hello <b>world</b></body></html>", u"Hello world"},
      {u"\uFEFFa<br>b", u"a\r\nb"},
      {u"<p>one</p><p>two</p>", u"one\r\ntwo"},
      {u"x &amp; y &lt;z&gt; &#65;&#x42; &nbsp;", u"x & y <z> AB"},
      {u"<style>td{color:red}</style><script>if(a<b)x();</script>shown", u"shown"},
      {u"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", u"a\tb\r\nc"},
      {u"a\n\n   b", u"a b"},
      {u"broken <tag", u"broken"},
      {u"&bogus; &#xZZ; &", u"&bogus; &#xZZ; &"},
      {u"&#0;&#xD800;&#99999999;", u"\uFFFD\uFFFD\uFFFD"},
      {u"<SCRIPT>x</SCRIPT >y<DIV>z", u"y\r\nz"},
      {u"<script>never closed", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(htmlToPlainText(c.html), c.text);
}

TEST(BrowserModel, LinksOfTheViewersBarsOnceEachWithTheShownPageMarked) {
  // Two bars as the report viewer writes them around a page, page 3 shown.
  std::u16string bar = u"<div>Go to page: <a href='#000'>1</a> <a href='#001'>2</a>  | "
                       u"<a href='#002' class=c>3</a> </div>";
  std::u16string doc = u"<html><style>a{color:navy}</style><body>" + bar +
                       u"\uFEFF<table><tr><td>HKLM\\Software &lt;a href=x&gt;</td></tr></table>" +
                       bar + u"</body></html>";
  std::vector<DocumentLink> links = documentLinks(doc);
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0], (DocumentLink{u"#000", u"1", false}));
  EXPECT_EQ(links[1], (DocumentLink{u"#001", u"2", false}));
  EXPECT_EQ(links[2], (DocumentLink{u"#002", u"3", true}));
}

TEST(BrowserModel, LinksTakeTheirAttributesInAnyFormAndSkipScripts) {
  std::u16string doc =
      u"<A class=\"x\" HREF=\"a.htm?x=1&amp;y=2\">Next <b>page</b></A>"
      u"<a name=top>no href</a>"
      u"<script>document.write(\"<a href='s'>s</a>\")</script>"
      u"<a href=plain.htm title='a b'>one&nbsp;two</a >"
      u"<a href='' >empty</a>"
      u"<a href=\"#x\">never closed";
  std::vector<DocumentLink> links = documentLinks(doc);
  ASSERT_EQ(links.size(), 4u);
  EXPECT_EQ(links[0], (DocumentLink{u"a.htm?x=1&y=2", u"Next page", true}));
  EXPECT_EQ(links[1], (DocumentLink{u"plain.htm", u"one two", false}));
  EXPECT_EQ(links[2], (DocumentLink{u"", u"empty", false}));
  EXPECT_EQ(links[3], (DocumentLink{u"#x", u"never closed", false}));
  // Broken markup ends the scan without reading past the text.
  EXPECT_TRUE(documentLinks(u"<a href='#1'").empty());
  EXPECT_TRUE(documentLinks(u"<a href=>x</a><a =>y</a>").size() == 1u);
}

TEST(BrowserModel, LinkAddressesFromTheDocumentsAddress) {
  EXPECT_EQ(linkAddress(u"about:blank", u"#002"), u"about:blank#002");
  EXPECT_EQ(linkAddress(u"about:blank#000", u"#002"), u"about:blank#002");
  EXPECT_EQ(linkAddress(u"C:\\r\\tmp\\export.htm", u"export_001.htm"), u"C:\\r\\tmp\\export_001.htm");
  EXPECT_EQ(linkAddress(u"file:///C:/r/export.htm#a", u"b.htm"), u"file:///C:/r/b.htm");
  EXPECT_EQ(linkAddress(u"C:\\r\\export.htm", u"http://example.invalid/"), u"http://example.invalid/");
  EXPECT_EQ(linkAddress(u"C:\\r\\export.htm", u"D:\\x.htm"), u"D:\\x.htm");
  EXPECT_EQ(linkAddress(u"C:\\r\\export.htm", u"\\\\server\\x.htm"), u"\\\\server\\x.htm");
  EXPECT_EQ(linkAddress(u"about:blank", u"x.htm"), u"x.htm");
  EXPECT_EQ(linkAddress(u"C:\\r\\export.htm", u""), u"C:\\r\\export.htm");
}

// ---- tree colours ----

TEST(ItemColourMap, UnsetItemsAreBlackAndSetOnesKeepTheirLook) {
  ItemColourMap m;
  EXPECT_EQ(m.colour(0x1230), rgb(0, 0, 0));
  EXPECT_FALSE(m.bold(0x1230));
  EXPECT_FALSE(m.has(0x1230));
  // Handles 16 * 17 apart share a bucket and must still be told apart.
  uintptr_t a = 0x1000, b = 0x1000 + 16 * 17;
  ASSERT_EQ(ItemColourMap::bucketOf(a), ItemColourMap::bucketOf(b));
  m.setColour(a, rgb(200, 30, 30));
  m.setBold(b, true);
  EXPECT_EQ(m.colour(a), rgb(200, 30, 30));
  EXPECT_FALSE(m.bold(a));
  EXPECT_EQ(m.colour(b), rgb(0, 0, 0));
  EXPECT_TRUE(m.bold(b));
  m.setColour(a, rgb(0, 180, 0));
  EXPECT_EQ(m.size(), 2u);
  EXPECT_EQ(m.colour(a), rgb(0, 180, 0));
  m.erase(a);
  EXPECT_FALSE(m.has(a));
  EXPECT_TRUE(m.has(b));
  m.clear();
  EXPECT_EQ(m.size(), 0u);
  EXPECT_EQ(ItemColourMap::bucketOf(16 * 18), 1u);
}

TEST(ItemColourMap, ManyItems) {
  ItemColourMap m;
  for (uintptr_t i = 1; i <= 5000; ++i) m.setColour(i * 32, Colour(i));
  for (uintptr_t i = 1; i <= 5000; ++i) ASSERT_EQ(m.colour(i * 32), Colour(i));
  EXPECT_EQ(m.size(), 5000u);
}

TEST(CheckStates, StateImageIsCheckPlusOne) {
  EXPECT_EQ(checkFromStateImage(stateImageFromCheck(kCheckPartial)), kCheckPartial);
  EXPECT_EQ(stateImageFromCheck(kCheckUnchecked), 1);
  EXPECT_EQ(checkFromStateImage(0), -1);
}

TEST(CheckStates, ClickMovesToTheNextStateImageAndRoundAgain) {
  // Three images after "none": unchecked, checked, partly checked.
  EXPECT_EQ(nextStateImage(1, 3), 2);
  EXPECT_EQ(nextStateImage(2, 3), 3);
  EXPECT_EQ(nextStateImage(3, 3), 1);
  EXPECT_EQ(nextStateImage(5, 3), 1);  // past the last: the first again
  EXPECT_EQ(nextStateImage(2, 0), 3);  // no images to count: it moves on
}

}  // namespace
}  // namespace keldrun
