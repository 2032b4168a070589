// Top-level lifetime at the end of the program; the purge of a closed pop-up is WindowTest's.
#include <gtest/gtest.h>

#include <windows.h>

#include "gui/TopLevelRegistry.h"
#include "gui/QxWidget.h"

namespace {

// Closes itself when its window goes, as a pop-up does.
class ClosingPopUp : public QxWidget {
public:
  ClosingPopUp(const char* name, int& deletions) : QxWidget(name), deletions_(deletions) {}
  ~ClosingPopUp() override { ++deletions_; }
  void close() { TopLevelRegistry::instance().close(this); }
  void onDestroy() override { close(); }

private:
  int& deletions_;
};

} // namespace

TEST(TopLevelRegistryTest, DestroyAllDeletesEveryGroupAndSelfClosingDoesNotRequeue) {
  TopLevelRegistry& registry = TopLevelRegistry::instance();
  int deletions = 0;
  // A widget that closes itself while being deleted must not be queued again.
  struct SelfClosing : ClosingPopUp {
    using ClosingPopUp::ClosingPopUp;
    ~SelfClosing() override { close(); }
  };
  registry.adopt(0, new SelfClosing("main", deletions));
  registry.adopt(1, new ClosingPopUp("other", deletions));
  registry.destroyAll();
  EXPECT_EQ(deletions, 2);
  EXPECT_EQ(registry.queuedCount(), 0u);
  registry.purge();
  EXPECT_EQ(deletions, 2);
}
