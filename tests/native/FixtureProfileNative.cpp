// Natively the profile fixtures are read by the portable reader.
#include <memory>

#include "platform/PortableProfile.h"

namespace velmora::testing {

std::unique_ptr<IProfileFiles> MakeFixtureProfileFiles();

std::unique_ptr<IProfileFiles> MakeFixtureProfileFiles() { return std::make_unique<PortableProfileFiles>(); }

}  // namespace velmora::testing
