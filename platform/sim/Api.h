// The simulated machine is a shared library that the host, the library
// under test and the tests all load; its public classes must stay visible
// even if the build ever turns on hidden visibility.
#pragma once

#define SIM_API __attribute__((visibility("default")))
