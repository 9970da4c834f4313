#pragma once

// The pauses and polls that pace a converter module, in milliseconds, kept in
// one place so that they can be scaled as one. In the product the scale is 1
// and every pause is exactly the one the module needs. The scale is a test
// hook: a test that does not check the pauses themselves runs them shorter,
// in its own process by setScale(), and in a velkocan-cli it starts by the
// environment variable VELKOCAN_TEST_PACE (the scale as a decimal number, read
// once on the first pause). Counts stay as they are: a scaled poll is shorter,
// a budget still allows as many polls.
namespace Pacing {

// The name of the environment variable that scales a child process's pacing.
constexpr const char* kScaleVariable = "VELKOCAN_TEST_PACE";

// `ms` at the current scale: `ms` itself at scale 1; a pause that is not zero
// stays at least 1 ms.
int scaled(int ms);

// The scale in effect: 1 unless a test set another.
double scale();
// Test hook: every later pause and poll of this process at `scale` (> 0).
void setScale(double scale);

} // namespace Pacing
