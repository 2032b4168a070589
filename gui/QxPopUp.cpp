#include "gui/QxPopUp.h"

#include "gui/TopLevelRegistry.h"

struct QxPopUp::Impl {
  QxPopUp* owner = nullptr;
};

QxPopUp::QxPopUp(std::string name)
    : QxWidget(std::move(name)), popUpImpl_(std::make_unique<Impl>()) {
  popUpImpl_->owner = this;
}

QxPopUp::~QxPopUp() = default;

void QxPopUp::close() { TopLevelRegistry::instance().close(this); }

void QxPopUp::show() { setVisible(true); }

void QxPopUp::onDestroy() { close(); }
