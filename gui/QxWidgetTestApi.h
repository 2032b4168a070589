#pragma once
// Test-only access to what only a hosting window may do to a widget tree.
class QxGUIServiceProvider;
class QxWidget;

class QxWidgetTestApi {
public:
  // Hosts `root` on `provider` the way a native window does.
  static void host(QxWidget* root, QxGUIServiceProvider* provider);
};
