// A provider "mgmtd" and a client "iptrackd" in one loop over the real
// socket path, in a private directory, with the message protocol on and
// the management service open: the set-up of the tests that exchange
// messages over a real session without a second thread or process.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "gcl_test_support.h"
#include "mgmt/bnode_proto.h"
#include "mgmt/gcl.h"

namespace gcl_test
{

struct SessionPair {
    Loop loop;
    std::string dir;
    gcl_session *provider = nullptr;
    gcl_session *accepted = nullptr; // the provider's side of the client's session
    gcl_session *client = nullptr;

    SessionPair()
    {
        char tmpl[] = "/tmp/session-pair-XXXXXX";
        dir = mkdtemp(tmpl);
        gcl_set_socket_dir_for_tests(dir.c_str(), 0);
        EXPECT_EQ(0, gcl_bn_init(loop.gcl));
        gcl_provider_params pp;
        pp.gpp_provider_name = "mgmtd";
        pp.gpp_accept_func = keep_accepted;
        pp.gpp_accept_data = &accepted;
        EXPECT_EQ(0, gcl_session_provider_full_new(loop.gcl, &pp, &provider));
        EXPECT_EQ(0, gcl_session_provider_enable(provider));
        EXPECT_EQ(0, gcl_session_client_new(loop.gcl, "iptrackd", nullptr, 0, &client));
        EXPECT_EQ(0, gcl_session_client_connect_by_provider(client, "mgmtd", false));
        EXPECT_EQ(0, gcl_session_client_open_service(client, bn_service_mgmt, 2, nullptr, 0));
        EXPECT_TRUE(loop.run_until([&] {
            tbool open = false;
            return gcl_session_get_service_id_open(client, bn_service_mgmt, &open) == 0 && open &&
                   accepted != nullptr;
        }));
    }
    ~SessionPair()
    {
        gcl_session_free(&client);
        gcl_session_free(&provider);
        gcl_set_socket_dir_for_tests(nullptr, -1);
        std::string cmd = "rm -rf " + dir;
        EXPECT_EQ(0, system(cmd.c_str()));
    }
    SessionPair(const SessionPair &) = delete;
    SessionPair &operator=(const SessionPair &) = delete;
};

} // namespace gcl_test
