// Input of the pure_includes_catches_a_platform_include test: a platform/ header that is no pure
// interface.
#pragma once

#include "platform/stream/LiveStream.h"
