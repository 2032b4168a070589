#pragma once
// Test-only view of a welcome page's widgets and headline bitmap.
class QxButton;
class QxCheckBox;
class QxHyperlink;
class QxTextButton;
class WelcomePage;

class WelcomePageTestApi {
public:
  static QxTextButton* oneKeyButton(const WelcomePage& page);
  static QxButton* customButton(const WelcomePage& page);
  static QxCheckBox* licenceBox(const WelcomePage& page);
  static QxHyperlink* licenceLink(const WelcomePage& page);
  // The headline bitmap's size; false before the first paint made it.
  static bool headlineSize(const WelcomePage& page, int& width, int& height);
};
