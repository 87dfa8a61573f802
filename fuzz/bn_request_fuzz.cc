// Decoding request messages from any bytes (see fuzz_common.h).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::decode_message(data, size, bn_request_msg_deserialize, bn_request_msg_serialize,
                                bn_request_msg_dup, bn_request_msg_dump);
}
