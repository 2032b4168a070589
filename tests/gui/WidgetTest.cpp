// The widget tree without a native window: ownership, routing, hover, capture, focus,
// repaint requests, the tree walk and the draw list.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/QxWidget.h"
#include "gui/QxWidgetVEIterator.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxWidgetTestApi.h"

namespace {

// Records every mouse, key and life-cycle call of the tree, and every request the tree
// makes of its window, as lines of one journal.
struct Journal {
  std::vector<std::string> lines;
  void add(const std::string& line) { lines.push_back(line); }
  std::vector<std::string> take() { return std::exchange(lines, {}); }
};

std::string rect(int x, int y, int width, int height) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) + "x" + std::to_string(height);
}

// Stands in for the native window that hosts a tree.
class JournalProvider : public QxGUIServiceProvider {
public:
  explicit JournalProvider(Journal& journal) : journal_(journal) {}
  void host(QxWidget* widget) { QxWidgetTestApi::host(widget, this); }

  void setRoot(QxWidget* widget) override { root = widget; }
  void detachRoot() override {
    root = nullptr;
    journal_.add("window detached");
  }
  void invalidateRect(int x, int y, int width, int height, QxWidget* widget) override {
    journal_.add("repaint " + rect(x, y, width, height) + " of " + widget->name());
  }
  void clientToScreen(int&, int&) override {}
  void setWindowBounds(int x, int y, int width, int height) override {
    journal_.add("window at " + rect(x, y, width, height));
  }
  bool getImageSize(const std::string&, int& width, int& height) override {
    width = height = 0;
    return false;
  }
  std::uint32_t getPixel(const std::string&, int, int) override { return 0xFFFFFFFFu; }
  void showWindow(bool visible) override { journal_.add(visible ? "window shown" : "window hidden"); }
  void measureText(const std::string&, const std::string&, int, bool, bool, bool, int&, int&) override {}
  void setCursor(const char*) override {}
  void setCapture(QxWidget* widget) override { journal_.add("capture " + widget->name()); }
  void releaseCapture() override { journal_.add("release"); }

  QxWidget* root = nullptr;

private:
  Journal& journal_;
};

const char* mouseName(int type) {
  static const char* names[] = {"enter", "leave", "move",   "ldown", "lup", "rdown",
                                "rup",   "wdown", "wup",    "dbl",   "cursor"};
  return type >= 0 && type <= 10 ? names[type] : "?";
}

class Probe : public QxWidget {
public:
  Probe(const std::string& name, Journal& journal, int x, int y, int w, int h)
      : QxWidget(name), journal_(journal) {
    setBounds(x, y, w, h);
  }
  ~Probe() override { journal_.add(name() + " deleted"); }
  bool onMouse(int type, int x, int y, unsigned keys) override {
    if (type != MouseMove || logMoves)
      journal_.add(name() + " " + mouseName(type) + " " + std::to_string(x) + "," +
                   std::to_string(y));
    QxWidget::onMouse(type, x, y, keys);
    return consume;
  }
  bool onKey(int type, WPARAM wParam, LPARAM) override {
    journal_.add(name() + " key" + std::to_string(type) + " " + std::to_string(wParam));
    return true;
  }
  void onFocusLost(QxWidget* next) override {
    journal_.add(name() + " lost focus to " + (next ? next->name() : "null"));
  }
  void refresh() override {
    journal_.add(name() + " refresh");
    QxWidget::refresh();
  }
  bool consume = true;
  bool logMoves = true;

private:
  Journal& journal_;
};

class WidgetTest : public ::testing::Test {
protected:
  // root 0,0 400x300 with a (10,10 100x100), b (50,50 100x100) on top, and c inside b.
  void SetUp() override {
    root = new Probe("root", journal, 0, 0, 400, 300);
    a = new Probe("a", journal, 10, 10, 100, 100);
    b = new Probe("b", journal, 50, 50, 100, 100);
    c = new Probe("c", journal, 20, 30, 40, 40);
    root->addChild(a);
    root->addChild(b);
    b->addChild(c);
    provider.host(root);
    journal.take();
  }
  void TearDown() override {
    delete root;
    EXPECT_EQ((std::vector<QxWidget*>{QxWidget::hoveredWidget(), QxWidget::capturedWidget()}),
              (std::vector<QxWidget*>{nullptr, nullptr}));
  }
  void move(int x, int y) { root->dispatchMouse(QxWidget::MouseMove, x, y, 0); }
  // What one event at the root made the tree log.
  std::vector<std::string> send(int type, int x, int y) {
    root->dispatchMouse(type, x, y, 0);
    return journal.take();
  }
  // The hovered, the captured and the focused widget.
  std::vector<QxWidget*> holders() const {
    return {QxWidget::hoveredWidget(), QxWidget::capturedWidget(), root->getFocus()};
  }

  Journal journal;
  JournalProvider provider{journal};
  Probe* root = nullptr;
  Probe* a = nullptr;
  Probe* b = nullptr;
  Probe* c = nullptr;
};

using Lines = std::vector<std::string>;

// The names of a widget's children, in order.
Lines children(const QxWidget* w) {
  Lines names;
  for (int i = 0; i < w->childCount(); ++i) names.push_back(w->child(i)->name());
  return names;
}

} // namespace

TEST_F(WidgetTest, MouseGoesToTheTopmostVisibleHitChildInItsCoordinates) {
  // (60, 60) is inside both a and b; b is later, so on top.
  EXPECT_EQ(send(QxWidget::LeftDown, 60, 60), (Lines{"b ldown 10,10"}));
  EXPECT_EQ(send(QxWidget::LeftDown, 75, 85), (Lines{"c ldown 5,5"}));
  b->setVisible(false);
  EXPECT_EQ(send(QxWidget::LeftDown, 75, 85), (Lines{"a ldown 65,75"}));
  a->setMouseEnabled(false);
  EXPECT_EQ(send(QxWidget::LeftDown, 75, 85), (Lines{"root ldown 75,85"}));
  b->setVisible(true);
  // A child that does not consume lets the event fall through to the next candidate.
  c->consume = false;
  b->consume = false;
  EXPECT_EQ(send(QxWidget::RightUp, 75, 85), (Lines{"c rup 5,5", "b rup 25,35", "root rup 75,85"}));
  EXPECT_EQ(root->childAt(75, 85), c);
  EXPECT_EQ(root->childAt(300, 200), root);
}

TEST_F(WidgetTest, HoverSendsLeaveThenEnterOnceEach) {
  a->logMoves = b->logMoves = c->logMoves = root->logMoves = false;
  for (auto [x, y] : {std::pair{20, 20}, {25, 25}, {140, 140}, {145, 145}}) move(x, y);
  EXPECT_EQ(QxWidget::hoveredWidget(), b);
  // The window reports that the mouse left it: the hovered widget hears of it, then the root.
  root->dispatchMouse(QxWidget::MouseLeave, 0, 0, 0);
  EXPECT_EQ(journal.take(),
            (Lines{"a enter 10,10", "a leave 0,0", "b enter 90,90", "b leave 0,0", "root leave 0,0"}));
  EXPECT_EQ(QxWidget::hoveredWidget(), nullptr);
}

TEST_F(WidgetTest, CapturedWidgetGetsEverythingInItsOwnCoordinates) {
  EXPECT_EQ(c->captureMouse(), nullptr);
  // Far outside c, and over a.
  root->dispatchMouse(QxWidget::LeftUp, 20, 20, 0);
  root->dispatchMouse(QxWidget::MouseMove, 390, 290, 0);
  c->releaseMouse();
  EXPECT_EQ(journal.take(), (Lines{"capture c", "c lup -50,-60", "c move 320,210", "c enter 320,210", "release"}));
  EXPECT_EQ(QxWidget::capturedWidget(), nullptr);
  EXPECT_EQ(send(QxWidget::LeftUp, 20, 20).back(), "a lup 10,10");
  // The root holding the capture routes as without it.
  root->captureMouse();
  root->dispatchMouse(QxWidget::LeftDown, 75, 85, 0);
  root->dispatchMouse(QxWidget::LeftDown, 399, 299, 0);
  EXPECT_EQ(journal.take(), (Lines{"capture root", "c ldown 5,5", "root ldown 399,299"}));
  root->releaseMouse();
}

TEST_F(WidgetTest, DestroyedWidgetLeavesNoCaptureHoverOrFocusBehind) {
  c->logMoves = false;
  move(75, 85);
  c->captureMouse();
  c->setFocus();
  EXPECT_EQ(holders(), (std::vector<QxWidget*>{c, c, c}));
  b->removeChild(c).reset();
  EXPECT_EQ(holders(), (std::vector<QxWidget*>{nullptr, nullptr, nullptr}));
  c = nullptr;
  // A focused grandchild of a removed subtree: the old root's focus must not dangle.
  auto* d = new Probe("d", journal, 0, 0, 10, 10);
  b->addChild(d);
  d->setFocus();
  EXPECT_EQ(root->getFocus(), d);
  root->removeChild(b).reset();
  EXPECT_EQ(root->getFocus(), nullptr);
  root->dispatchKey(QxWidget::KeyDown, 65, 0);
  EXPECT_EQ(journal.take().back(), "root key0 65");
}

TEST_F(WidgetTest, FocusMovesAndKeysGoToTheFocusedWidget) {
  a->setFocus();
  root->dispatchKey(QxWidget::KeyChar, 'x', 0);
  c->setFocus();
  c->setFocus();
  root->dispatchKey(QxWidget::KeyDown, 13, 0);
  EXPECT_EQ(journal.take(), (Lines{"a key2 120", "a lost focus to c", "c key0 13"}));
  EXPECT_EQ(a->getFocus(), c);
}

TEST_F(WidgetTest, InsertChildReordersWithoutRefreshAndReparentsWithRefresh) {
  root->insertChild(b, 0);
  EXPECT_EQ(children(root), (Lines{"b", "a"}));
  EXPECT_TRUE(journal.take().empty());
  root->insertChild(b, 99);
  EXPECT_EQ(children(root), (Lines{"a", "b"}));
  a->setFocus();
  b->insertChild(a, 0);
  EXPECT_EQ(journal.take(), (Lines{"a refresh"}));
  EXPECT_EQ(children(root), (Lines{"b"}));
  EXPECT_EQ(children(b), (Lines{"a", "c"}));
  EXPECT_EQ(a->parent(), b);
  EXPECT_EQ(root->getFocus(), nullptr) << "a re-parented widget loses the focus";
  a->setFocus();
  EXPECT_EQ(root->removeChild(c), nullptr) << "not its child";
  EXPECT_EQ(c->parent(), b);
  std::unique_ptr<QxWidget> taken = b->removeChild(a);
  EXPECT_EQ(taken.get(), a);
  EXPECT_EQ(a->parent(), nullptr);
  EXPECT_EQ(root->getFocus(), nullptr);
  taken.reset();
  EXPECT_EQ(journal.take(), (Lines{"a refresh", "a deleted"}));
}

TEST_F(WidgetTest, ChildDeletedDirectlyLeavesItsParentAndAParentDeletesItsDescendants) {
  delete a;
  EXPECT_EQ(children(root), (Lines{"b"}));
  EXPECT_EQ(send(QxWidget::LeftDown, 20, 20).back(), "root ldown 20,20");
  delete root;
  root = nullptr;
  EXPECT_EQ(journal.take(),
            (Lines{"root deleted", "b refresh", "b deleted", "c refresh", "c deleted", "window detached"}));
  EXPECT_EQ(provider.root, nullptr);
  SetUp();
}

// Each row places a widget and updates it; c sits in b, which is at (50,50). The second
// row's rectangle spans the old (20,30)-(60,70) and the new (45,5)-(85,45); the root
// subtracts its own (screen) position, and only its own bounds and visibility reach the
// window (a child's visibility would show in the mouse test's journal).
TEST_F(WidgetTest, UpdateOfAMovedWidgetRepaintsOldAndNewPlaceInOneRectangle) {
  const struct {
    QxWidget* w;
    int x, y, width, height;
    Lines requests;
  } rows[] = {{c, 20, 30, 40, 40, {"repaint 70,80 40x40 of root"}},
              {c, 45, 5, 40, 40, {"repaint 70,55 65x65 of root"}},
              {c, 45, 5, 0, 0, {"repaint 95,55 40x40 of root"}},
              {root, 0, 0, 400, 300, {"repaint 0,0 400x300 of root"}},
              {root, 300, 200, 400, 300, {"window at 300,200 400x300", "repaint -300,-200 700x500 of root"}}};
  for (const auto& row : rows) {
    row.w->setBounds(row.x, row.y, row.width, row.height);
    row.w->update();
    EXPECT_EQ(journal.take(), row.requests) << row.w->name();
  }
  root->setVisible(false);
  EXPECT_EQ(journal.take(), Lines{"window hidden"});
}

namespace {

// Writes the walk into the journal; refuses to enter the widget named `skip`.
struct WalkRecorder : QxWidgetVEIterator {
  WalkRecorder(Journal& journal, std::string skip = "") : journal(journal), skip(std::move(skip)) {}
  bool enter(QxWidget* w) override {
    journal.add("enter " + w->name());
    return w->name() != skip;
  }
  void leave(QxWidget* w) override { journal.add("leave " + w->name()); }
  void visitItem(const DrawItem& item, int x, int y) override {
    journal.add(item.name + "@" + std::to_string(x) + "," + std::to_string(y));
  }
  Journal& journal;
  const std::string skip;
};

} // namespace

TEST_F(WidgetTest, AcceptWalksVisibleWidgetsInPaintingOrderWithWindowOrigins) {
  root->addImage("bg", 0, 0);
  b->addImage("b1", 0, 0);
  b->addImage("b2", 5, 5);
  c->addImage("c1", 0, 0);
  a->setVisible(false);
  WalkRecorder walk(journal), skipping(journal, "b");
  root->accept(&walk, 0, 0);
  EXPECT_EQ(journal.take(), (Lines{"enter root", "bg@0,0", "enter b", "b1@50,50", "b2@50,50", "enter c", "c1@70,80",
                                   "leave c", "leave b", "leave root"}));
  root->accept(&skipping, 0, 0);
  EXPECT_EQ(journal.take(), (Lines{"enter root", "bg@0,0", "enter b", "leave root"}));
}

TEST(DrawListTest, NineGridCutsSourceAndDestinationIntoCells) {
  QxWidget w("w");
  // Source column 100..130 of a 30x30 cell grid, borders 10, centre 10; destination 80x50.
  w.addNineGrid("grid", 5, 80, 50, 100, 30, 30, 10, 10, 10, 10);
  ASSERT_EQ(w.items().size(), 9u);
  // Cells go row by row: {destination start, size, source start} of the cell's column and
  // of its row; every source cell is 10 by 10.
  const int cols[3][3] = {{5, 10, 100}, {15, 60, 110}, {75, 10, 120}};
  const int rows[3][3] = {{0, 10, 0}, {10, 30, 10}, {40, 10, 20}};
  for (int i = 0; i < 9; ++i) {
    const DrawItem& it = w.items()[size_t(i)];
    const int *c = cols[i % 3], *r = rows[i / 3];
    EXPECT_EQ(it.kind, DrawItem::ImageSection);
    EXPECT_EQ(it.name, "grid");
    EXPECT_EQ((std::vector<int>{it.x, it.width, it.srcX, it.y, it.height, it.srcY, it.srcWidth, it.srcHeight}),
              (std::vector<int>{c[0], c[1], c[2], r[0], r[1], r[2], 10, 10}))
        << "cell " << i;
  }
  w.clearItems();
  w.addNineGrid("grid", 0, 80, 50, 0, 30, 30, 10, 10, 10, 10, true);
  ASSERT_EQ(w.items().size(), 8u);
  EXPECT_EQ(w.items()[4].x, 70) << "the centre is left out";
}
