// The checks, one per kernel family; each checks every operation of its
// family that --function selects.
#pragma once

#include "checker.h"

namespace zeverive {
namespace check {

void check_transforms(Checker& c);
void check_shrinks(Checker& c);
void check_edge_masks(Checker& c);
void check_odd_lowpass(Checker& c);
void check_line_io(Checker& c);

constexpr void (*kFamilies[])(Checker&) = {check_transforms, check_shrinks, check_edge_masks, check_odd_lowpass,
                                              check_line_io};

}  // namespace check
}  // namespace zeverive
