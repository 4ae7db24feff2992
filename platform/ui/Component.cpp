#include "platform/ui/Component.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner, std::string name) : owner_(owner), name_(std::move(name))
{
    if (owner_)
        owner_->components_.push_back(this);
}

TComponent::~TComponent()
{
    destroying_ = true;
    // Children are freed last-created first, so that no child sees a freed sibling it
    // was created after.
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    // The own peer after the children's, so that a child widget is never freed through its
    // parent widget while its peer still points at it.
    peer_.reset();
    if (owner_ && !owner_->destroying_) {
        auto& v = owner_->components_;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
}

TComponent* TComponent::FindComponent(std::string_view name) const
{
    for (TComponent* c : components_)
        if (c->Name().size() == name.size() &&
            std::equal(name.begin(), name.end(), c->Name().begin(), [](char a, char b) {
                auto up = [](char x) { return (x >= 'a' && x <= 'z') ? char(x - 32) : x; };
                return up(a) == up(b);
            }))
            return c;
    return nullptr;
}
