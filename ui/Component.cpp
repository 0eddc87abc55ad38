#include "ui/Component.h"

#include <algorithm>

namespace zal {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner) {
        FOwner->FComponents.push_back(this);
    }
}

TComponent::~TComponent() {
    DestroyComponents();
    if (FOwner) {
        auto& list = FOwner->FComponents;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* component = FComponents.back();
        FComponents.pop_back();
        component->FOwner = nullptr;
        delete component;
    }
}

} // namespace zal
