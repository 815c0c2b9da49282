// The payload buffers' bookkeeping. The reader runs on one thread.

#include "archive/payload.h"

namespace archive {

payload_usage& payload_bytes() {
    static payload_usage usage;
    return usage;
}

}  // namespace archive
