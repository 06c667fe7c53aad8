// Time limits and cancellation of IMAPClient's waits, against a port that
// accepts connections (the kernel completes them) but never says anything.
#include "Imap/IMAPClient.h"

#include "support/Ports.h"
#include "support/TestCerts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <thread>

namespace bx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::SilentPort;

struct WaitCase {
    const char* name;
    bool tls;  // TLS: the handshake is what waits; plain: the greeting
};

class ClientWaits : public ::testing::TestWithParam<WaitCase> {
protected:
    void SetUp() override { test::trustTestCA(); }
    IMAPServer server(const SilentPort& p) const {
        return GetParam().tls ? IMAPServer("127.0.0.1", p.port(), false) : IMAPServer("127.0.0.1", p.port(), true);
    }
};

INSTANTIATE_TEST_SUITE_P(Both, ClientWaits, ::testing::Values(WaitCase{"TLS", true}, WaitCase{"Plain", false}),
                         [](const auto& info) { return info.param.name; });

TEST_P(ClientWaits, ASilentServerTimesOut) {
    SilentPort silent;
    IMAPClient client(server(silent), 0.3);
    auto started = Clock::now();
    try {
        client.connect();
        FAIL() << "connected";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::timeout);
        EXPECT_EQ(e.description(), "The server stopped responding.");
        EXPECT_EQ(e.cause(), TransportCause::timeout);
    }
    auto took = Clock::now() - started;
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 10s);
}

TEST_P(ClientWaits, AStopRequestWakesAWaitInProgress) {
    SilentPort silent;
    std::stop_source stop;
    IMAPClient client(server(silent), 60, stop.get_token());
    std::jthread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    auto started = Clock::now();
    EXPECT_THROW(client.connect(), CancellationError);
    EXPECT_LT(Clock::now() - started, 30s);
}

TEST_P(ClientWaits, AShieldKeepsWaitingUntilTheTimeLimit) {
    SilentPort silent;
    std::stop_source stop;
    stop.request_stop();
    IMAPClient client(server(silent), 0.3, stop.get_token());
    auto shield = client.shieldFromCancellation();
    try {
        client.connect();
        FAIL() << "connected";
    } catch (const IMAPError& e) {
        EXPECT_EQ(e.kind(), IMAPError::Kind::timeout);
    }
}

}  // namespace
}  // namespace bx
