#pragma once
// The core's search index beside Qt: Qt defines `slots` as a macro, which the
// index's storage uses as a member name.
#pragma push_macro("slots")
#undef slots
#include "Index/SearchIndex.h"
#pragma pop_macro("slots")
