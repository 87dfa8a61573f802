// Decoding response messages from any bytes (see fuzz_common.h).
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzz::decode_message(data, size, bn_response_msg_deserialize, bn_response_msg_serialize,
                                bn_response_msg_dup, bn_response_msg_dump);
}
