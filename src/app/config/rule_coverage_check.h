// Finds the rules that can never fire: a rule tried before them, without
// CONTINUE, catches every message they could catch.
#pragma once

#include <vector>

#include "app/config/config.h"

namespace lw {

// Records, as a warning at its line, each rule of `config` (NOT_TOUCH
// names included) that an earlier one in evaluation order (PRIORITY, then
// file order) without CONTINUE is proven to cover, naming the covering
// rule's line.  Says nothing where the question is not decided (see
// CatchesAll).  A list of address rules is followed only up to the plain
// zone-0 address that ends its search.
void CheckUnreachableRules(const MoverConfig& config, std::vector<ConfigProblem>& problems);

}  // namespace lw
