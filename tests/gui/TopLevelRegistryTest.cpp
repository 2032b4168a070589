// Top-level lifetime: a closed pop-up is hidden at once and deleted by the 500 ms purge.
#include <gtest/gtest.h>

#include <windows.h>

#include "gui/TopLevelRegistry.h"
#include "gui/QxWidget.h"
#include "tests/gui/FakeProvider.h"
#include "tests/support/MessagePump.h"

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

TEST(TopLevelRegistryTest, ClosedPopUpIsHiddenAtOnceAndDeletedByTheNextPurgeTick) {
  TopLevelRegistry& registry = TopLevelRegistry::instance();
  int deletions = 0;
  auto* popup = new ClosingPopUp("popup", deletions);
  qxtest::FakeProvider provider;
  provider.host(popup);
  registry.adopt(3, popup);
  EXPECT_TRUE(registry.isAdopted(popup));
  popup->onDestroy();
  EXPECT_FALSE(popup->isVisible());
  EXPECT_EQ(provider.shown, (std::vector<bool>{false}));
  EXPECT_FALSE(registry.isAdopted(popup));
  EXPECT_EQ(registry.queuedCount(), 1u);
  EXPECT_EQ(deletions, 0);
  // Closing twice queues it once.
  popup->close();
  EXPECT_EQ(registry.queuedCount(), 1u);
  DWORD start = GetTickCount();
  while (deletions == 0 && GetTickCount() - start < 3000) qxtest::pump(20);
  EXPECT_EQ(deletions, 1);
  EXPECT_LE(GetTickCount() - start, 1500u);
  EXPECT_EQ(registry.queuedCount(), 0u);
  EXPECT_EQ(provider.detaches, 1);
}

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
