// Decoding response messages from any bytes (see bn_msg_fuzz.h).
#include "bn_msg_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bn_fuzz::ops<bn_response> op{bn_response_msg_deserialize,
                                              bn_response_msg_serialize, bn_response_msg_dup,
                                              bn_response_msg_dump};
    return bn_fuzz::one_input(op, data, size);
}
