// AccessibleFrame: the system libraries; what a widget is to a screen reader; the COM
// object; the frame.
#include "gui/AccessibleFrame.h"

#include <oleacc.h>

#include <string>
#include <vector>

#include "gui/DisplayScale.h"
#include "gui/FocusChain.h"
#include "gui/GbkText.h"
#include "gui/ProgressBar.h"
#include "gui/QxButton.h"
#include "gui/QxGUIServiceProvider.h"
#include "gui/QxCheckBox.h"
#include "gui/QxHyperlink.h"
#include "gui/QxTextBox.h"
#include "gui/QxTextField.h"
#include "gui/QxWidget.h"

namespace {

// --- the system libraries ----------------------------------------------------------------

const IID kIAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct SystemLibraries {
  LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, LPUNKNOWN) = nullptr;
  BSTR(WINAPI* sysAllocStringLen)(const OLECHAR*, UINT) = nullptr;

  static const SystemLibraries& get() {
    static const SystemLibraries libraries;
    return libraries;
  }
  bool loaded() const { return lresultFromObject && sysAllocStringLen; }

private:
  SystemLibraries() {
    HMODULE oleacc = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    HMODULE oleaut = LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!oleacc || !oleaut) return;
    lresultFromObject = reinterpret_cast<decltype(lresultFromObject)>(
        reinterpret_cast<void*>(GetProcAddress(oleacc, "LresultFromObject")));
    sysAllocStringLen = reinterpret_cast<decltype(sysAllocStringLen)>(
        reinterpret_cast<void*>(GetProcAddress(oleaut, "SysAllocStringLen")));
  }
};

HRESULT giveString(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SystemLibraries::get().sysAllocStringLen(text.data(), UINT(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

void giveInteger(VARIANT* out, LONG value) {
  out->vt = VT_I4;
  out->lVal = value;
}

// --- what a widget is to a screen reader ---------------------------------------------------

LONG roleOf(QxWidget* widget) {
  if (dynamic_cast<QxCheckBox*>(widget)) return ROLE_SYSTEM_CHECKBUTTON;
  if (dynamic_cast<QxHyperlink*>(widget)) return ROLE_SYSTEM_LINK;
  if (auto* button = dynamic_cast<QxButton*>(widget))
    return button->getText().empty() && widget->accessibleName().empty() ? 0 : ROLE_SYSTEM_PUSHBUTTON;
  if (dynamic_cast<QxTextBox*>(widget)) return ROLE_SYSTEM_TEXT;
  if (dynamic_cast<ProgressBar*>(widget)) return ROLE_SYSTEM_PROGRESSBAR;
  if (auto* field = dynamic_cast<QxTextField*>(widget))
    return field->text().empty() ? 0 : ROLE_SYSTEM_STATICTEXT;
  // A picture is told only when words are given for it.
  return widget->accessibleName().empty() ? 0 : ROLE_SYSTEM_GRAPHIC;
}

std::string nameOf(QxWidget* widget) {
  if (!widget->accessibleName().empty()) return widget->accessibleName();
  if (auto* button = dynamic_cast<QxButton*>(widget)) return button->getText();
  if (auto* field = dynamic_cast<QxTextField*>(widget)) return field->text();
  return std::string();
}

// The children of the client area: a text's shadow reads as the text itself and is told
// once.
std::vector<QxWidget*> itemsOf(QxWidget* root) {
  std::vector<QxWidget*> items;
  for (QxWidget* w : FocusChain::readingOrder(root, [](QxWidget* w) { return roleOf(w) != 0; })) {
    bool repeated = false;
    if (roleOf(w) == ROLE_SYSTEM_STATICTEXT)
      for (QxWidget* seen : items)
        repeated = repeated || (seen->parent() == w->parent() && roleOf(seen) == ROLE_SYSTEM_STATICTEXT &&
                                nameOf(seen) == nameOf(w));
    if (!repeated) items.push_back(w);
  }
  return items;
}

} // namespace

// --- the COM object ------------------------------------------------------------------------

struct AccessibleFrame::Impl final : IAccessible {
  HWND window = nullptr;
  QxWidget* root = nullptr;
  bool connected = true;
  LONG references = 1;

  // The items are laid out at 96 dpi; a reader is told where they are on screen.
  int windowDpi() const {
    QxGUIServiceProvider* host = root ? root->provider() : nullptr;
    return host ? host->dpi() : DisplayScale::kLayoutDpi;
  }
  std::vector<QxWidget*> items() const { return connected && root ? itemsOf(root) : std::vector<QxWidget*>(); }

  LONG idOf(QxWidget* widget) const {
    const std::vector<QxWidget*> all = items();
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i] == widget) return LONG(i + 1);
    return CHILDID_SELF;
  }

  // CHILDID_SELF gives null and S_OK; an unknown child E_INVALIDARG.
  HRESULT resolve(const VARIANT& child, QxWidget*& widget) const {
    widget = nullptr;
    if (!connected) return RPC_E_DISCONNECTED;
    if (child.vt != VT_I4) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) return S_OK;
    const std::vector<QxWidget*> all = items();
    if (child.lVal < 1 || size_t(child.lVal) > all.size()) return E_INVALIDARG;
    widget = all[size_t(child.lVal) - 1];
    return S_OK;
  }

  bool holdsKeyboard(QxWidget* widget) const {
    const HWND focus = GetFocus();
    return focus && root->getFocus() == widget && (focus == window || focus == widget->focusWindow());
  }

  LONG stateOf(QxWidget* widget) const {
    LONG state = 0;
    if (widget->acceptsFocus()) state |= STATE_SYSTEM_FOCUSABLE;
    if (holdsKeyboard(widget)) state |= STATE_SYSTEM_FOCUSED;
    if (auto* button = dynamic_cast<QxButton*>(widget)) {
      if (button->state() == QxButton::Disabled) state |= STATE_SYSTEM_UNAVAILABLE;
      if (button->state() == QxButton::Pressed) state |= STATE_SYSTEM_PRESSED;
      if (button->state() == QxButton::Hover) state |= STATE_SYSTEM_HOTTRACKED;
    }
    if (auto* box = dynamic_cast<QxCheckBox*>(widget))
      if (box->isChecked()) state |= STATE_SYSTEM_CHECKED;
    switch (roleOf(widget)) {
    case ROLE_SYSTEM_LINK:
      state |= STATE_SYSTEM_LINKED;
      break;
    case ROLE_SYSTEM_STATICTEXT:
    case ROLE_SYSTEM_PROGRESSBAR:
    case ROLE_SYSTEM_GRAPHIC:
      state |= STATE_SYSTEM_READONLY;
      break;
    default:
      break;
    }
    return state;
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kIAccessible)) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references);
    if (left == 0) delete this;
    return ULONG(left);
  }

  // IDispatch: clients of this object call it through its vtable only.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = LONG(items().size());
    return connected ? S_OK : RPC_E_DISCONNECTED;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    // Every child is a simple element of this object.
    return FAILED(hr) ? hr : widget ? S_FALSE : E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    if (widget) return giveString(gbkToWide(nameOf(widget)), name);
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    return giveString(title, name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    if (auto* box = dynamic_cast<QxTextBox*>(widget)) return giveString(gbkToWide(box->getText()), value);
    if (auto* bar = dynamic_cast<ProgressBar*>(widget))
      return giveString(std::to_wstring(bar->percent()) + L"%", value);
    return giveString(std::wstring(), value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* text) override {
    return giveString(std::wstring(), text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!role) return E_POINTER;
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    giveInteger(role, widget ? roleOf(widget) : ROLE_SYSTEM_CLIENT);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    if (!state) return E_POINTER;
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    if (widget) {
      giveInteger(state, stateOf(widget));
    } else {
      const bool focused = GetFocus() == window;
      giveInteger(state, STATE_SYSTEM_FOCUSABLE | (focused ? STATE_SYSTEM_FOCUSED : 0));
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* text) override { return giveString(std::wstring(), text); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) override {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* text) override {
    return giveString(std::wstring(), text);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    if (!child) return E_POINTER;
    child->vt = VT_EMPTY;
    if (!connected) return RPC_E_DISCONNECTED;
    const HWND focus = GetFocus();
    if (focus != window && !(focus && IsChild(window, focus))) return S_FALSE;
    QxWidget* widget = root ? root->getFocus() : nullptr;
    const LONG id = widget && holdsKeyboard(widget) ? idOf(widget) : CHILDID_SELF;
    giveInteger(child, id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    if (!children) return E_POINTER;
    children->vt = VT_EMPTY;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    const LONG role = widget ? roleOf(widget) : 0;
    if (auto* box = dynamic_cast<QxCheckBox*>(widget)) return giveString(box->isChecked() ? L"取消选中" : L"选中", action);
    if (role == ROLE_SYSTEM_LINK) return giveString(L"跳转", action);
    if (role == ROLE_SYSTEM_PUSHBUTTON) return giveString(L"按下", action);
    return giveString(std::wstring(), action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    if (!widget || !(flags & SELFLAG_TAKEFOCUS) || !widget->acceptsFocus()) return S_FALSE;
    widget->setFocus();
    SetFocus(widget->focusWindow() ? widget->focusWindow() : window);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    RECT client{};
    GetClientRect(window, &client);
    POINT at{0, 0};
    int w = client.right, h = client.bottom;
    if (widget) {
      const DisplayScale scale(windowDpi());
      const POINT from = widget->mapToRoot(0, 0);
      const RECT r = scale.toDevice(RECT{from.x, from.y, from.x + widget->width(), from.y + widget->height()});
      at = POINT{r.left, r.top};
      w = r.right - r.left;
      h = r.bottom - r.top;
    }
    ClientToScreen(window, &at);
    *left = at.x;
    *top = at.y;
    *width = w;
    *height = h;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    if (!end) return E_POINTER;
    end->vt = VT_EMPTY;
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(start, widget);
    if (FAILED(hr)) return hr;
    const LONG count = LONG(items().size());
    const LONG from = start.lVal;
    LONG to = 0;
    switch (direction) {
    case NAVDIR_FIRSTCHILD:
      to = widget ? 0 : 1;
      break;
    case NAVDIR_LASTCHILD:
      to = widget ? 0 : count;
      break;
    case NAVDIR_NEXT:
    case NAVDIR_DOWN:
    case NAVDIR_RIGHT:
      to = widget ? from + 1 : 0;
      break;
    case NAVDIR_PREVIOUS:
    case NAVDIR_UP:
    case NAVDIR_LEFT:
      to = widget ? from - 1 : 0;
      break;
    default:
      return E_INVALIDARG;
    }
    if (to < 1 || to > count) return S_FALSE;
    giveInteger(end, to);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
    if (!child) return E_POINTER;
    child->vt = VT_EMPTY;
    if (!connected) return RPC_E_DISCONNECTED;
    POINT p{x, y};
    ScreenToClient(window, &p);
    RECT client{};
    GetClientRect(window, &client);
    if (!PtInRect(&client, p)) return S_FALSE;
    const DisplayScale scale(windowDpi());
    p = POINT{scale.pointToLayout(p.x), scale.pointToLayout(p.y)};
    const std::vector<QxWidget*> all = items();
    LONG id = CHILDID_SELF;
    for (size_t i = 0; i < all.size(); ++i) {
      const POINT at = all[i]->mapToRoot(0, 0);
      if (p.x >= at.x && p.y >= at.y && p.x < at.x + all[i]->width() && p.y < at.y + all[i]->height())
        id = LONG(i + 1);
    }
    giveInteger(child, id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    QxWidget* widget = nullptr;
    const HRESULT hr = resolve(child, widget);
    if (FAILED(hr)) return hr;
    auto* button = dynamic_cast<QxButton*>(widget);
    if (dynamic_cast<QxTextBox*>(widget)) return accSelect(SELFLAG_TAKEFOCUS, child);
    if (!button || button->state() == QxButton::Disabled) return DISP_E_MEMBERNOTFOUND;
    PostMessageW(window, kActionMessage, 0, reinterpret_cast<LPARAM>(widget));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }
};

// --- the frame -----------------------------------------------------------------------------

AccessibleFrame::AccessibleFrame(HWND window, QxWidget* root) : impl_(new Impl) {
  impl_->window = window;
  impl_->root = root;
}

AccessibleFrame::~AccessibleFrame() {
  impl_->connected = false;
  impl_->root = nullptr;
  // Clients may hold the object longer than the window lives.
  impl_.release()->Release();
}

void AccessibleFrame::setRoot(QxWidget* root) { impl_->root = root; }

LRESULT AccessibleFrame::answer(WPARAM wParam, LPARAM lParam) {
  if (LONG(lParam) != OBJID_CLIENT || !SystemLibraries::get().loaded()) return 0;
  return SystemLibraries::get().lresultFromObject(kIAccessible, wParam, static_cast<IAccessible*>(impl_.get()));
}

void AccessibleFrame::notify(DWORD event, QxWidget* widget) {
  if (!impl_->root) return;
  if (event == EVENT_OBJECT_SHOW || event == EVENT_OBJECT_HIDE) {
    // A page: each of its items appears or goes.
    const std::vector<QxWidget*> all = impl_->items();
    bool any = false;
    for (size_t i = 0; i < all.size(); ++i) {
      bool inside = false;
      for (const QxWidget* w = all[i]; w && !inside; w = w->parent()) inside = w == widget;
      if (!inside) continue;
      NotifyWinEvent(event, impl_->window, OBJID_CLIENT, LONG(i + 1));
      any = true;
    }
    if (any || event == EVENT_OBJECT_SHOW) NotifyWinEvent(EVENT_OBJECT_REORDER, impl_->window, OBJID_CLIENT, CHILDID_SELF);
    return;
  }
  const LONG id = impl_->idOf(widget);
  if (id == CHILDID_SELF && event != EVENT_OBJECT_FOCUS) return;
  NotifyWinEvent(event, impl_->window, OBJID_CLIENT, id);
}

void AccessibleFrame::carryOut(LPARAM token) {
  // Only a widget still on the page: the page may have changed since it was asked.
  for (QxWidget* widget : impl_->items()) {
    if (reinterpret_cast<LPARAM>(widget) != token) continue;
    if (auto* button = dynamic_cast<QxButton*>(widget))
      if (button->state() != QxButton::Disabled) button->performClick();
    return;
  }
}
