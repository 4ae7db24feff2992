#pragma once
// The component model: a component has an owner and a name and owns its children in
// creation order. The model holds all state; a backend may attach a peer to a component
// and mirrors every change into a real widget. Without peers the model works on its own,
// which is how the window logic is tested without a display.

#include "platform/ui/forward.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What changed on a component, so that a peer updates only that.
enum class TProperty {
    Caption,
    Hint,
    Text,
    Visible,
    Enabled,
    Bounds,
    Font,
    Items,
    ItemIndex,
    Lines,
    Range,
    Position,
    Columns,
    Rows,
    Filter,
    Interval,
    Cursor,
    Color,
    Other
};

// A backend's mirror of one component. Owned by the component; destroyed with it.
class TComponentPeer {
public:
    virtual ~TComponentPeer() = default;
    virtual void Changed(TComponent& component, TProperty what) = 0;
};

using TNotifyEvent = std::function<void(TComponent* Sender)>;

class TComponent {
public:
    // Registers with the owner, which frees this component when it is freed itself.
    explicit TComponent(TComponent* owner, std::string name = {});
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual std::string_view ClassName() const { return "TComponent"; }

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    // Owned components in creation order. The pointers stay valid while this owns them.
    const std::vector<TComponent*>& Components() const { return components_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* FindComponent(std::string_view name) const;

    TComponentPeer* Peer() const { return peer_.get(); }
    void SetPeer(std::unique_ptr<TComponentPeer> peer) { peer_ = std::move(peer); }

protected:
    void Changed(TProperty what)
    {
        if (peer_)
            peer_->Changed(*this, what);
    }

private:
    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    std::unique_ptr<TComponentPeer> peer_;
    bool destroying_ = false;
};

// Kinds declare their class name with this, so that the relabelling of a window can
// find its section by the class name, as it does for any other window.
#define UPDATER_CLASS_NAME(Name) \
    std::string_view ClassName() const override { return #Name; }
