// Off Windows the machine has no registry: the system registry is an in-memory
// one, empty until a caller loads it (for example from a .reg file).
#include "platform/MemoryRegistry.h"

namespace velmora {

IRegistry& SystemRegistry() {
    static MemoryRegistry registry;
    return registry;
}

}  // namespace velmora
