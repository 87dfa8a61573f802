// Fuzz target: bytes from a peer into a session, through a real loop.
//
// Each input is written into one end of a socketpair whose other end is a
// provider session on the loop, in chunks of 1 to 143 bytes (sizes drawn
// from the input's first byte), with loop passes between chunks; then the
// peer closes.  The session must deliver or close without crashing,
// leaking or keeping descriptors.  The test protocol answers odd message
// types with an echo and closes the session on type 0xDEAD, so replies
// and closes from inside handlers are exercised too.
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "fuzz_common.h"
#include "mgmt/gcl.h"

namespace
{

constexpr gcl_body_proto_id fuzz_proto = 9;
constexpr uint32 chunk_max = 143;

int on_frame(gcl_session *s, const gcl_frame_info *f, const uint8 *body, void *, void *)
{
    if (f->gfi_msg_type == 0xDEAD) return gcl_session_close(s);
    if (f->gfi_msg_type & 1) {
        return gcl_session_send_frame_components(s, fuzz_proto, f->gfi_msg_type + 1,
                                                 f->gfi_body_len, body);
    }
    return 0;
}

struct World {
    lew_context *lew = nullptr;
    fdic_libevent_context *adapter = nullptr;
    fdic_context *fdic = nullptr;
    gcl_handle *gcl = nullptr;

    World()
    {
        evc_base *core = nullptr;
        gcl_options o;
        gcl_body_proto p;
        p.gbp_id = fuzz_proto;
        snprintf(p.gbp_name, sizeof p.gbp_name, "fuzz");
        p.gbp_service_handlers[0] = on_frame;
        fuzz::require(!lew_init(&lew) && !lew_get_event_context(lew, &core) &&
                      !fdic_libevent_init(core, &adapter) &&
                      !fdic_init(&fdic, fdic_libevent_callback, adapter) &&
                      !gcl_options_get_defaults(&o) && !gcl_init(&gcl, &o, fdic) &&
                      !gcl_register_body_protocol(gcl, &p));
    }
};

long count_fds()
{
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// Runs a few loop passes, then reads away whatever the session answered.
void pump(World &w, int fd)
{
    for (int i = 0; i < 4; ++i) (void)lew_dispatch_nonblocking(w.lew, nullptr, nullptr);
    char buf[65536];
    while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static World w;
    const long fds_before = count_fds();
    int sv[2];
    gcl_session *s = nullptr;
    fuzz::require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0 &&
                  gcl_session_provider_new_from_fd(w.gcl, "fuzz", sv[0], &s) == 0);
    uint32 seed = size > 0 ? data[0] : 0;
    size_t off = size > 0 ? 1 : 0;
    while (off < size) {
        seed = seed * 1103515245u + 12345u;
        size_t n = 1 + (seed >> 16) % chunk_max;
        if (n > size - off) n = size - off;
        if (send(sv[1], data + off, n, MSG_NOSIGNAL) < 0) break; // session closed its end
        off += n;
        pump(w, sv[1]);
    }
    close(sv[1]);
    for (int i = 0; i < 4; ++i) (void)lew_dispatch_nonblocking(w.lew, nullptr, nullptr);
    gcl_session_state st = gss_none;
    (void)gcl_session_get_state(s, &st);
    fuzz::require(st == gss_closed); // a peer close must always be seen
    (void)gcl_session_free(&s);
    fuzz::require(count_fds() == fds_before);
    return 0;
}
