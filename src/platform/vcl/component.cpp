#include "platform/vcl/component.h"

#include <algorithm>

namespace vcl {

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

void TComponent::Free(TComponent* component) {
    if (!component) return;
    component->BeforeDestruction();
    delete component;
}

void TComponent::BeforeDestruction() { state_ |= csDestroying; }

TComponent::~TComponent() {
    state_ |= csDestroying;
    // Tell everyone who asked; they drop their references to us.
    auto notify = notify_;
    notify_.clear();
    for (TComponent* c : notify) {
        c->RemoveFreeNotification(this);
        c->Notification(this, TOperation::opRemove);
    }
    // Free owned components, last created first.
    while (!components_.empty()) {
        TComponent::Free(components_.back());  // its destructor removes it from components_
    }
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* c : components_) {
        if (c->Name.size() == name.size() &&
            std::equal(name.begin(), name.end(), c->Name.begin(), [](char a, char b) {
                auto up = [](char x) { return (x >= 'a' && x <= 'z') ? char(x - 32) : x; };
                return up(a) == up(b);
            }))
            return c;
    }
    return nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this) return;
    if (std::find(notify_.begin(), notify_.end(), AComponent) == notify_.end())
        notify_.push_back(AComponent);
    if (std::find(AComponent->notify_.begin(), AComponent->notify_.end(), this) ==
        AComponent->notify_.end())
        AComponent->notify_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    // The link is one pair: left on the other side, it would outlive this
    // component and be followed after it is gone.
    notify_.erase(std::remove(notify_.begin(), notify_.end(), AComponent), notify_.end());
    if (AComponent && AComponent != this)
        AComponent->notify_.erase(std::remove(AComponent->notify_.begin(), AComponent->notify_.end(), this),
                                  AComponent->notify_.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == TOperation::opRemove)
        for (TComponent* c : components_) c->Notification(AComponent, Operation);
}

void TComponent::InsertComponent(TComponent* child) {
    components_.push_back(child);
    child->owner_ = this;
    Notification(child, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* child) {
    Notification(child, TOperation::opRemove);
    components_.erase(std::remove(components_.begin(), components_.end(), child),
                      components_.end());
    child->owner_ = nullptr;
}

}  // namespace vcl
