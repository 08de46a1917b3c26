#pragma once

namespace vp {

// Brings up the loopback interface of a network namespace the process has just entered (it starts
// down there); false when it cannot.
bool BringUpLoopback();

}  // namespace vp
