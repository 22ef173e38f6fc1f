// The framework the module registers with: the stand-in, one per process.
#include "stand_in_framework.h"

namespace korvane::module {
namespace {

// Constant-initialised: it exists before any loader calls the module.
constinit StandInFramework process_framework;

}  // namespace

Framework& ProcessFramework() { return process_framework; }

}  // namespace korvane::module
