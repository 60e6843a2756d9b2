// The co-op session type the game views bind to.
#pragma once

#include "app/gallery/CoopStandIn.h"

namespace vantry::gallery {
using CoopSession = CoopStandIn;
}
