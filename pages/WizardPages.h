#pragma once
// The wizard as the controller's frame shows it: the four pages, the step indicator and
// the logo overlay, added to the frame in their stacking order (install and finish page
// at the bottom, the overlay on top). Only the welcome page starts visible. UI thread
// only; the widgets belong to the frame.
#include "app/InstallConfig.h"

class FinishPage;
class InstallPage;
class OptionPage;
class Panel;
class QxActionListener;
class QxWidget;
class StepsPanel;
class WelcomePage;

struct WizardPages {
  WelcomePage* welcome = nullptr;
  OptionPage* option = nullptr;
  InstallPage* install = nullptr;
  FinishPage* finish = nullptr;
  StepsPanel* steps = nullptr;
  Panel* overlay = nullptr;

  // `controller` receives the pages' commands; the pages take the frame's size.
  static WizardPages build(QxWidget& frame, QxActionListener* controller, const InstallConfig& config);
};
