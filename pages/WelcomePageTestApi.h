#pragma once
// Test-only view of a welcome page: what the licence line governs, and its widgets to click.
#include <string>

class QxCheckBox;
class QxHyperlink;
class WelcomePage;

class WelcomePageTestApi {
public:
  static QxCheckBox* licenceBox(const WelcomePage& page);
  static QxHyperlink* licenceLink(const WelcomePage& page);
  // "licence <checked> | one-key <button state> | custom <button state> | <headline>", the
  // headline being "headline" once a paint made a bitmap with width and "no headline" otherwise.
  static std::string status(const WelcomePage& page);
};
