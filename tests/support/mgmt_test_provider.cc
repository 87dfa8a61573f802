// The management stand-in played in-process (see mgmt_test_provider.h).
#include "support/mgmt_test_provider.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

bool TestMgmtd::start(const std::string &db)
{
    char tmpl[] = "/tmp/mgmtd-test-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    dir_ = tmpl;
    gcl_set_socket_dir_for_tests(dir_.c_str(), 0);
    const std::string db_path = dir_ + "/test.db";
    std::ofstream(db_path) << db;
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    thread_ = std::thread([this, db_path] {
        const bool ok = setup(db_path) == 0;
        {
            std::lock_guard lk(mu_);
            state_ = ok ? 1 : 2;
            cv_.notify_all();
        }
        if (ok) (void)lew_dispatch(lwc_, nullptr, nullptr);
        if (server_) (void)server_->stop();
        server_.reset();
        (void)lew_deinit(&lwc_);
    });
    std::unique_lock lk(mu_);
    cv_.wait(lk, [this] { return state_ != 0; });
    return state_ == 1;
}

void TestMgmtd::stop()
{
    if (thread_.joinable()) {
        if (state_ == 1) run([this] { (void)lew_escape_from_dispatch(lwc_); });
        thread_.join();
    }
    for (int &fd : wake_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (!dir_.empty()) {
        gcl_set_socket_dir_for_tests(nullptr, -1);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(0, system(cmd.c_str()));
        dir_.clear();
    }
}

int TestMgmtd::setup(const std::string &db_path)
{
    std::string error;
    if (db_.load_file(db_path, &error) != 0) {
        ADD_FAILURE() << error;
        return lc_err_bad_type;
    }
    bail_error(lew_init(&lwc_));
    server_.reset(new (std::nothrow) mgmtd::server(lwc_, &db_));
    bail_null(server_.get());
    server_->set_request_tap(tap, this);
    bail_error(server_->start());
    bail_error(lew_event_reg_fd(lwc_, &wake_ev_, wake_[0], lew_event_read, 1, on_wake, this));
    return 0;
}

void TestMgmtd::run(const std::function<void()> &fn)
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

int TestMgmtd::on_wake(int fd, lew_event_type, void *data, lew_context *)
{
    auto *self = static_cast<TestMgmtd *>(data);
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lk(self->mu_);
        jobs.swap(self->jobs_);
    }
    for (auto &job : jobs) job();
    return 0;
}

bool TestMgmtd::tap(void *data, gcl_session *session, const bn_request *request)
{
    auto *self = static_cast<TestMgmtd *>(data);
    if (self->answering_) return false;
    {
        owned<bn_request> copy;
        EXPECT_EQ(0, bn_request_msg_dup(request, copy.out()));
        std::lock_guard lk(self->mu_);
        self->requests_.push_back(std::move(copy));
        self->cv_.notify_all();
    }
    return self->intercept && self->intercept(session, request);
}

bool TestMgmtd::wait_requests(size_t n)
{
    std::unique_lock lk(mu_);
    return cv_.wait_for(lk, std::chrono::seconds(20), [&] { return requests_.size() >= n; });
}

std::vector<const bn_request *> TestMgmtd::requests()
{
    std::lock_guard lk(mu_);
    std::vector<const bn_request *> out;
    for (auto &r : requests_) out.push_back(r.get());
    return out;
}

size_t TestMgmtd::num_requests()
{
    std::lock_guard lk(mu_);
    return requests_.size();
}

gcl_session *TestMgmtd::session(const char *client_name, uint32 nth)
{
    return server_->session_named_nth(client_name, nth);
}

int TestMgmtd::send_response(gcl_session *session, uint16 type, uint32 req_id)
{
    owned<bn_response> resp;
    bail_error(bn_response_msg_create(resp.out(), type, req_id, 0, nullptr));
    return bn_response_msg_send(session, resp.get());
}

int TestMgmtd::answer(gcl_session *session, const bn_request *req)
{
    answering_ = true;
    int err = 0;
    switch (req->msg_type) {
    case bbmt_query_request:
        err = server_->on_query_request(session, req);
        break;
    case bbmt_set_request:
        err = server_->on_set_request(session, req);
        break;
    case bbmt_action_request:
        err = server_->on_action_request(session, req);
        break;
    default:
        err = server_->on_event_request(session, req);
        break;
    }
    answering_ = false;
    return err;
}

bool TestMgmtClient::open(const char *client_name)
{
    mdc_transport_params params;
    params.mtp_client_name = client_name;
    params.mtp_connect_retry = mdc_connect_once;
    params.mtp_timeout_ms = 20000;
    return mdc_transport_new(&params, transport_.out()) == 0 &&
           mdc_transport_connect(transport_.get()) == 0;
}
