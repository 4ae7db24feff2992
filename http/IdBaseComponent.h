#pragma once
// The root of the network components and of the anti-freeze: a component of the
// component model, owned by its owner and freed with it.

#include "platform/ui/Component.h"

class TIdBaseComponent : public TComponent {
public:
    using TComponent::TComponent;
    UPDATER_CLASS_NAME(TIdBaseComponent)
};
