// A feature file that reaches into the renderer: the layering check must refuse it.
#pragma once
#include "studio/gpu/VantryMetalEngine.h"
