#include "data/component.h"

#include <algorithm>
#include <utility>

TComponent::TComponent(TComponent* owner, std::string name) : owner_(owner), name_(std::move(name)) {
  if (owner_ != nullptr) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  // Newest first: a component created later may depend on an earlier one
  // (a dataset on its connection), never the other way round.
  while (!owned_.empty()) {
    TComponent* last = owned_.back();
    delete last;  // its destructor removes it from owned_
  }
  if (owner_ != nullptr) {
    auto& siblings = owner_->owned_;
    auto it = std::find(siblings.begin(), siblings.end(), this);
    if (it != siblings.end()) siblings.erase(it);
  }
}
