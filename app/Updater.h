#pragma once
// The installer's one top-level window and the controller of the whole flow: the four
// pages and the step indicator, the update query, the download and its digest check,
// the payload run with relayed progress, the finish page, and silent mode.
#include <memory>
#include <string>

#include "gui/StandardWidget.h"

// UI thread only; the downloader's worker threads reach it only by posted messages.
class Updater : public StandardWidget {
public:
  // Window title: installName + "安装".
  explicit Updater(const std::string& installName);
  ~Updater() override;

  // QxPopUp
  void show() override;
  // QxWidget
  LRESULT onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
  bool preTranslateMessage(MSG* msg) override;

private:
  friend class UpdaterTestApi;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
