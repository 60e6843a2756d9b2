// Input of the pure_includes_catches_a_qt_include test: a header no pure library may hold.
#pragma once

#include <string>

#include <QString>
