// Off Windows the system file functions are the portable ones over the host's files.
#include "platform/PortableProfile.h"

namespace velmora {

IProfileFiles& SystemProfileFiles() {
    static PortableProfileFiles files;
    return files;
}

}  // namespace velmora
