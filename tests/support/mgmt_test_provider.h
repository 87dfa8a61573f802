// The management stand-in played in-process: the stand-in's own node
// database and server (sim/mgmtd) on a thread of their own, with their own
// loop, listening as "mgmtd" in a private socket directory, and a client of
// it through the product's client transport.  The one way the tests play
// mgmtd; real frames and the real codec run in between.
//
// The stand-in answers as it does as a program: queries from its database,
// set requests with change notifications, actions through its table,
// events to the registered sessions.  Tests see every request (copies, in
// order), may take one over with `intercept` (on the stand-in's thread;
// return true when it dealt with the request), and run code on the
// stand-in's thread with run().
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mgmt/bnode_proto.h"
#include "mgmt/mdc_transport.h"
#include "mgmtd_db.h"
#include "mgmtd_server.h"

class TestMgmtd
{
  public:
    using Intercept = std::function<bool(gcl_session *, const bn_request *)>;

    TestMgmtd() = default;
    ~TestMgmtd() { stop(); }
    TestMgmtd(const TestMgmtd &) = delete;
    TestMgmtd &operator=(const TestMgmtd &) = delete;

    // Loads `db` (lines "set NAME TYPE VALUE") and starts listening; false
    // when the set-up failed.  The socket directory stays private until
    // stop().
    bool start(const std::string &db = "");
    // Closes every session, joins the thread, removes the directory.
    // Idempotent.
    void stop();

    // Runs `fn` on the stand-in's thread and waits until it has run.
    void run(const std::function<void()> &fn);

    // Waits until `n` requests were received (false after 20 s).
    bool wait_requests(size_t n);
    // The requests received, in order (borrowed until stop()).
    std::vector<const bn_request *> requests();
    size_t num_requests();

    // The `nth` (from 1) connected session of `client_name`, or null
    // (stand-in's thread).
    gcl_session *session(const char *client_name, uint32 nth = 1);
    // Sends `session` a response of `type` to `req_id`, a request it may
    // never have made (stand-in's thread).
    int send_response(gcl_session *session, uint16 type, uint32 req_id);
    // Answers `req` as the stand-in does, bypassing `intercept`
    // (stand-in's thread).
    int answer(gcl_session *session, const bn_request *req);

    mgmtd::server *server() { return server_.get(); }
    // The database (stand-in's thread, or before start()).
    mgmtd::node_db *db() { return &db_; }

    // Sees each request first (set before the requests arrive).
    Intercept intercept;

  private:
    static bool tap(void *data, gcl_session *session, const bn_request *request);
    static int on_wake(int fd, lew_event_type kinds, void *data, lew_context *ctx);
    void main();
    int setup(const std::string &db_path);

    std::string dir_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    int state_ = 0; // 1 running, 2 set-up failed
    std::vector<std::function<void()>> jobs_;
    std::vector<owned<bn_request>> requests_;
    bool answering_ = false;

    lew_context *lwc_ = nullptr;
    lew_event *wake_ev_ = nullptr;
    mgmtd::node_db db_;
    std::unique_ptr<mgmtd::server> server_;
};

// A client of the stand-in through the client transport, run by blocking
// I/O on the test's thread (the stand-in answers on its own).
class TestMgmtClient
{
  public:
    // Opens the management service as `client_name`; false on failure.
    bool open(const char *client_name = "mdc-test");
    md_client_context *mcc() { return mdc_transport_get_client(transport_.get()); }
    mdc_transport *transport() { return transport_.get(); }
    gcl_session *session() { return mdc_transport_get_session(transport_.get()); }

  private:
    owned<mdc_transport> transport_;
};
