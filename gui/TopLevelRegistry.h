#pragma once
// Owner of the top-level widgets: groups adopted under a key, and a deletion queue purged
// every 500 ms by its own thread timer. UI thread only.
#include <cstdint>
#include <map>
#include <set>

class QxWidget;

class TopLevelRegistry {
public:
  static TopLevelRegistry& instance();
  ~TopLevelRegistry();
  TopLevelRegistry(const TopLevelRegistry&) = delete;
  TopLevelRegistry& operator=(const TopLevelRegistry&) = delete;

  void adopt(std::int32_t key, QxWidget* widget);
  // Hides the widget at once and queues it for deletion at the next purge.
  void close(QxWidget* widget);
  void purge();
  void destroyAll();

  size_t queuedCount() const;
  bool isAdopted(const QxWidget* widget) const;

private:
  TopLevelRegistry();
  std::map<std::int32_t, std::set<QxWidget*>> groups_;
  std::set<QxWidget*> queue_;
  std::uintptr_t timerId_ = 0;
};
