#pragma once
// Base of every widget: a node of a retained tree with geometry, a draw list, mouse and
// key routing, focus, capture, hover and tooltips. A parent owns its children; a hosted
// root holds the provider of its native window; a child deleted directly leaves its
// parent. UI thread only.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gui/DrawItem.h"

class QxGUIServiceProvider;
class QxWidgetVEIterator;

class QxWidget {
public:
  // Mouse event types of dispatchMouse/onMouse. For CursorQuery `keys` is the window
  // hit-test code, for the others the mouse-key state word of the window message.
  enum MouseType : int {
    MouseEnter = 0,
    MouseLeave = 1,
    MouseMove = 2,
    LeftDown = 3,
    LeftUp = 4,
    RightDown = 5,
    RightUp = 6,
    WheelDown = 7,  // wheel delta 0 or less
    WheelUp = 8,
    LeftDoubleClick = 9,
    CursorQuery = 10,
  };
  enum KeyType : int { KeyDown = 0, KeyUp = 1, KeyChar = 2 };

  explicit QxWidget(std::string name);
  virtual ~QxWidget();
  QxWidget(const QxWidget&) = delete;
  QxWidget& operator=(const QxWidget&) = delete;

  // Geometry and visibility do not repaint; callers call update() afterwards.
  virtual void setBounds(int x, int y, int width, int height);
  virtual void setVisible(bool visible);
  // Called whenever the parent changes.
  virtual void refresh();
  // Rebuilds the draw list from the widget's state.
  virtual void paint();
  // Painting hooks around the widget's items and children: the back buffer's memory
  // context and the repainted area in window coordinates.
  virtual void onPrePaint(HDC dc, int x, int y, int width, int height);
  virtual void onPostPaint(HDC dc, int x, int y, int width, int height);
  // (x, y) local to this widget.
  virtual bool dispatchMouse(int type, int x, int y, unsigned keys);
  virtual bool onMouse(int type, int x, int y, unsigned keys);
  virtual void dispatchKey(int type, WPARAM wParam, LPARAM lParam);
  virtual void setFocus();
  virtual QxWidget* getFocus();
  virtual void onFocusLost(QxWidget* newFocus);
  virtual bool onKey(int type, WPARAM wParam, LPARAM lParam);
  // Whether Tab stops here now (a disabled or purely decorative widget says no).
  virtual bool acceptsFocus();
  // A native child window that takes the keyboard when this widget has the focus; null
  // when the widget's window itself reads the keys and the toolkit draws the focus mark.
  virtual HWND focusWindow();
  // The colour (0x00BBGGRR) of the dotted focus mark: the widget's text colour.
  virtual std::uint32_t focusMarkColour();
  virtual bool hitTest(int x, int y);
  virtual void setCursor(const std::string& cursorName);
  virtual void setMouseEnabled(bool enabled);
  virtual bool isMouseEnabled();
  // Returns the widget that held the capture before.
  virtual QxWidget* captureMouse();
  virtual void releaseMouse();
  virtual void onAttach(QxGUIServiceProvider* provider);
  virtual int windowHitTest(int x, int y);
  // True lets the window close.
  virtual bool onClose();
  virtual void onDestroy();
  virtual LRESULT onWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // True swallows a queued message of the widget's window before translation.
  virtual bool preTranslateMessage(MSG* msg);

  const std::string& name() const;
  QxWidget* parent() const;
  int childCount() const;
  QxWidget* child(int index) const;
  int x() const;
  int y() const;
  int width() const;
  int height() const;
  bool isVisible() const;
  const std::string& cursorName() const;
  const std::string& toolTip() const;
  // Non-null only on a root that a native window hosts.
  QxGUIServiceProvider* provider() const;

  // Takes ownership. Moving a widget within the same parent only reorders it.
  void addChild(QxWidget* child);
  void insertChild(QxWidget* child, int index);
  // Null when `child` is not a child of this widget.
  std::unique_ptr<QxWidget> removeChild(QxWidget* child);
  QxWidget* root();
  // The deepest visible widget under (x, y), local to this widget; first child first.
  QxWidget* childAt(int x, int y);
  // Between local and window coordinates (the root's screen position is not included).
  POINT mapToRoot(int x, int y) const;
  POINT mapFromRoot(int x, int y) const;
  // Repaints the union of where the widget was last painted and where it is now.
  void update();
  // Walks the visible tree; (x, y) is this widget's origin in window coordinates.
  void accept(QxWidgetVEIterator* visitor, int x, int y);
  // Registered with the window's tooltip control on the next hover.
  void setToolTip(const std::string& text);
  // What a screen reader calls the widget where no text of its own says it: an image
  // button's purpose, a picture's words.
  void setAccessibleName(const std::string& name);
  const std::string& accessibleName() const;
  // Tells the hosting window's assistive technology of a change (an EVENT_OBJECT_* code).
  void notifyAccessibility(DWORD event);

  // Draw list, replayed in order (coordinates local to the widget).
  void addImage(const std::string& name, int x, int y);
  void addImageSection(const std::string& name, int x, int y, int width, int height, int srcX,
                       int srcY, int srcWidth, int srcHeight);
  void addFill(std::uint32_t colour, int x, int y, int width, int height);
  void addText(const std::string& text, const std::string& face, int size, bool bold,
               std::uint32_t colour, int x, int y, int width, int height,
               int hAlign = DrawItem::AlignLeft, int vAlign = DrawItem::AlignTop,
               bool underline = false);
  // Stretches the section (srcX, 0, srcWidth, srcHeight) over (x, 0, width, height)
  // keeping its corners 1:1.
  void addNineGrid(const std::string& name, int x, int width, int height, int srcX, int srcWidth,
                   int srcHeight, int left, int top, int centreWidth, int centreHeight,
                   bool noCentre = false);
  // Removes the first item with this name.
  void removeItem(const std::string& name);
  void clearItems();
  const std::vector<DrawItem>& items() const;

  // Hands the widget to the process's AutoReleasePool.
  void autorelease();

  // Process-wide mouse state.
  static QxWidget* hoveredWidget();
  static QxWidget* capturedWidget();

private:
  friend class AutoReleasePool;
  friend class QxGUISPWnd;
  friend class QxWidgetTestApi;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  void setProvider(QxGUIServiceProvider* provider);
  // Adds `delta` to the AutoReleasePool's retain count and returns the new count.
  int adjustRetainCount(int delta);
  void withdrawToolTip();
  void registerToolTip();
};
