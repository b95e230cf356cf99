#include "engine/passes.h"
#include "external/rsid.h"

namespace tarpo::audio {

RsidApi linked_rsid() {
    return RsidApi{::init_rsid, ::rsid_check, ::getrsfreq, ::rsid_encode, ::rsid_get};
}

}  // namespace tarpo::audio
