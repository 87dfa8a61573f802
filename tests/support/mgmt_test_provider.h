// An in-process provider "mgmtd" for session tests: its own thread, loop,
// session layer and listening socket, answering over the real frames and
// message codec.  Tests call run() to do things on the provider's thread
// (send an event, close the client's session) and read what it received.
//
// Requests are answered by default: actions, sets and events with an empty
// success, queries from `db` ("get": the binding of that name; "iterate":
// every binding below the node).  `intercept`, when set, sees each request
// first on the provider thread and may answer it itself (returning true).
//
// Header-only so that only the tests that include it pay for it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "event/event_fdintrcb.h"
#include "event/libevent_wrapper.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"

class TestMgmtd
{
  public:
    using Intercept = std::function<bool(gcl_session *, const bn_request *)>;

    TestMgmtd() = default;
    ~TestMgmtd() { stop(); }
    TestMgmtd(const TestMgmtd &) = delete;
    TestMgmtd &operator=(const TestMgmtd &) = delete;

    // Starts listening as `name`; false when the set-up failed.
    bool start(const char *name = "mgmtd")
    {
        name_ = name;
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
        thread_ = std::thread([this] { main(); });
        std::unique_lock lk(mu_);
        cv_.wait(lk, [this] { return state_ != 0; });
        return state_ == 1;
    }

    // Closes everything and joins the thread.  Idempotent.
    void stop()
    {
        if (!thread_.joinable()) return;
        run([this] {
            (void)gcl_shutdown(gcl_);
            (void)lew_escape_from_dispatch(lwc_);
        });
        thread_.join();
        (void)gcl_deinit(&gcl_);
        (void)fdic_libevent_deinit(&adapter_);
        (void)fdic_deinit(&fdic_);
        (void)lew_deinit(&lwc_);
        close(wake_[0]);
        close(wake_[1]);
    }

    // Runs `fn` on the provider thread and waits until it has run.
    void run(std::function<void()> fn)
    {
        bool done = false;
        {
            std::lock_guard lk(mu_);
            jobs_.push_back([&] {
                fn();
                std::lock_guard lk2(mu_);
                done = true;
                cv_.notify_all();
            });
        }
        const char b = 1;
        (void)!write(wake_[1], &b, 1);
        std::unique_lock lk(mu_);
        cv_.wait(lk, [&] { return done; });
    }

    // Waits until `n` requests were received (false after `ms`).
    bool wait_requests(size_t n, int ms = 5000)
    {
        std::unique_lock lk(mu_);
        return cv_.wait_for(lk, std::chrono::milliseconds(ms),
                            [&] { return requests_.size() >= n; });
    }
    // Copies of the requests received, in order.
    std::vector<bn_request *> requests()
    {
        std::lock_guard lk(mu_);
        std::vector<bn_request *> out;
        for (auto &r : requests_) out.push_back(r.get());
        return out;
    }
    size_t num_requests()
    {
        std::lock_guard lk(mu_);
        return requests_.size();
    }

    // The last client session accepted (provider thread only).
    gcl_session *client() const { return client_; }

    // Sends a response of `type` to request `req_id` on the client session
    // (provider thread only).
    int send_response(uint16 type, uint32 req_id, const char *name = nullptr,
                      const char *value = nullptr)
    {
        owned<bn_response> resp;
        bail_error(bn_response_msg_create(resp.out(), type, req_id, 0, nullptr));
        resp->service_id = bn_service_mgmt;
        if (name)
            bail_error(
                bn_response_msg_append_new_binding(resp.get(), 0, name, bt_string, value, nullptr));
        return bn_response_msg_send(client_, resp.get());
    }

    // Answers `req` as the default would (provider thread only).
    int answer(gcl_session *s, const bn_request *req)
    {
        owned<bn_response> resp;
        bail_error(bn_response_msg_create(resp.out(), bn_request_msg_response_msg_type(req),
                                          req->msg_id, 0, nullptr));
        bail_error(bn_response_fix_for_request(resp.get(), req));
        if (req->msg_type == bbmt_query_request) {
            const uint32 n = bn_request_per_node_array_length_quick(req->nodes);
            for (uint32 i = 0; i < n; ++i) {
                const bn_request_per_node *node =
                    bn_request_per_node_array_get_quick(req->nodes, i);
                const std::string name = ts_str(node->binding->name);
                for (const auto &[k, v] : db) {
                    const bool take =
                        node->subop == bqso_get ? k == name : k.rfind(name + "/", 0) == 0;
                    if (take)
                        bail_error(bn_response_msg_append_new_binding(
                            resp.get(), 0, k.c_str(), bt_string, v.c_str(), nullptr));
                }
            }
        }
        return bn_response_msg_send(s, resp.get());
    }

    // Node database of the default query answers, name to string value
    // (set before the queries arrive).
    std::vector<std::pair<std::string, std::string>> db;
    Intercept intercept;

  private:
    static int on_request(gcl_session *s, bn_request *req, void *data)
    {
        auto *self = static_cast<TestMgmtd *>(data);
        {
            owned<bn_request> copy;
            bail_error(bn_request_msg_dup(req, copy.out()));
            std::lock_guard lk(self->mu_);
            self->requests_.push_back(std::move(copy));
            self->cv_.notify_all();
        }
        if (self->intercept && self->intercept(s, req)) return 0;
        return self->answer(s, req);
    }
    static int on_accept(gcl_session *, gcl_session *accepted, void *data)
    {
        static_cast<TestMgmtd *>(data)->client_ = accepted;
        return 0;
    }
    static int on_wake(int fd, lew_event_type, void *data, lew_context *)
    {
        auto *self = static_cast<TestMgmtd *>(data);
        char buf[64];
        while (read(fd, buf, sizeof buf) > 0) {
        }
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard lk(self->mu_);
                if (self->jobs_.empty()) break;
                job = std::move(self->jobs_.front());
                self->jobs_.pop_front();
            }
            job();
        }
        return 0;
    }

    void main()
    {
        const bool ok = setup() == 0;
        {
            std::lock_guard lk(mu_);
            state_ = ok ? 1 : 2;
            cv_.notify_all();
        }
        if (ok) (void)lew_dispatch(lwc_, nullptr, nullptr);
    }

    int setup()
    {
        bail_error(lew_init(&lwc_));
        evc_base *base = nullptr;
        bail_error(lew_get_event_context(lwc_, &base));
        bail_error(fdic_libevent_init(base, &adapter_));
        bail_error(fdic_init(&fdic_, fdic_libevent_callback, adapter_));
        gcl_options options;
        bail_error(gcl_options_get_defaults(&options));
        bail_error(gcl_init(&gcl_, &options, fdic_));
        bail_error(gcl_bn_init(gcl_));
        bail_error(bn_set_global_callback_query_request_msg(gcl_, on_request, this));
        bail_error(bn_set_global_callback_action_request_msg(gcl_, on_request, this));
        bail_error(bn_set_global_callback_set_request_msg(gcl_, on_request, this));
        bail_error(bn_set_global_callback_event_request_msg(gcl_, on_request, this));
        gcl_provider_params params;
        params.gpp_provider_name = name_.c_str();
        params.gpp_accept_func = on_accept;
        params.gpp_accept_data = this;
        bail_error(gcl_session_provider_full_new(gcl_, &params, &listener_));
        bail_error(gcl_session_provider_enable(listener_));
        bail_error(lew_event_reg_fd(lwc_, &wake_ev_, wake_[0], lew_event_read, 1, on_wake, this));
        return 0;
    }

    std::string name_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    int state_ = 0; // 1 running, 2 set-up failed
    std::deque<std::function<void()>> jobs_;
    std::vector<owned<bn_request>> requests_;

    lew_context *lwc_ = nullptr;
    lew_event *wake_ev_ = nullptr;
    fdic_libevent_context *adapter_ = nullptr;
    fdic_context *fdic_ = nullptr;
    gcl_handle *gcl_ = nullptr;
    gcl_session *listener_ = nullptr;
    gcl_session *client_ = nullptr;
};
