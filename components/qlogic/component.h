// The QLogic vendor component.
#pragma once

#include "framework/base_component.h"

namespace QLogicComp {

// STAGED: for now this has only what the base gives it (no firmware discovery,
// no flash); the QLogic discovery and flash engine come with their own work.
class CComponent : public hbafw::CBaseCmp {
public:
    using hbafw::CBaseCmp::CBaseCmp;
};

}  // namespace QLogicComp
