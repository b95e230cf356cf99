#include "engine/passes.h"
#include "external/rsid.h"

namespace tarpo::engine {

RsidApi linked_rsid() {
    return RsidApi{::init_rsid, ::rsid_check, ::getrsfreq, ::rsid_encode, ::rsid_get};
}

}  // namespace tarpo::engine
