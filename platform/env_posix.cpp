// Placeholder until the POSIX seam lands.
#include "platform/env.h"
namespace keldrun {
void setWinePrefix(const std::string&) {}
}  // namespace keldrun
