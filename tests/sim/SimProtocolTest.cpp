// The transport as the simulator speaks it, driven by a hand-written host over loopback.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "glasses-sim/AdbPublicKey.h"
#include "glasses-sim/ByteOrder.h"
#include "glasses-sim/ShellProtocol.h"
#include "glasses-sim/Simulator.h"
#include "glasses-sim/SyncProtocol.h"
#include "sim/RawAdbHost.h"
#include "support/TempDir.h"

namespace orvan::sim {
namespace {

using test::RawAdbHost;

class SimProtocol : public ::testing::Test {
protected:
    void start(nlohmann::json config) {
        config["name"] = "g";
        config["media"] = false;
        simulator_ = std::make_unique<Simulator>(log_, dir_.path().string());
        const nlohmann::json description = simulator_->add(config);
        address_ = description.at("wlanAddress").get<std::string>();
        port_ = description.at("wirelessPort").get<int>();
    }
    std::unique_ptr<RawAdbHost> host() { return std::make_unique<RawAdbHost>(address_, port_); }
    nlohmann::json command(const std::string& line) {
        const std::string reply = simulator_->execute(line);
        EXPECT_TRUE(reply.starts_with("ok ")) << reply;
        return nlohmann::json::parse(reply.substr(3));
    }
    // Opens a stream and collects everything until the device closes it, acknowledging WRTEs.
    std::string runService(RawAdbHost& host, const std::string& service, std::uint32_t id = 7) {
        host.send(kOpen, id, 0, service + std::string(1, '\0'));
        const auto okay = host.receive();
        EXPECT_TRUE(okay && okay->command == kOkay) << service;
        if (!okay || okay->command != kOkay) return {};
        std::string data;
        while (auto message = host.receive()) {
            if (message->command == kWrte) {
                data += message->payload;
                host.send(kOkay, id, message->arg0);
            } else if (message->command == kClse) {
                break;
            }
        }
        return data;
    }

    Log log_;
    testing::TempDir dir_;
    std::unique_ptr<Simulator> simulator_;
    std::string address_;
    int port_ = 0;
};

TEST_F(SimProtocol, HandshakeAnswersWithVersionMaxdataAndBanner) {
    start({{"model", "Tervo3"}, {"features", {"shell_v2", "stat_v2"}}});
    auto h = host();
    h->connect();
    const auto cnxn = h->receive();
    ASSERT_TRUE(cnxn);
    EXPECT_EQ(cnxn->command, kCnxn);
    EXPECT_EQ(cnxn->arg0, kVersionSkipChecksum);
    EXPECT_EQ(cnxn->arg1, kMaxPayload);
    EXPECT_EQ(cnxn->payload,
              "device::ro.product.name=tervo3;ro.product.model=Tervo3;ro.product.device=tervo3;"
              "features=shell_v2,stat_v2");
}

TEST_F(SimProtocol, MessagesBeforeCnxnAreIgnored) {
    start({});
    auto h = host();
    h->send(kOpen, 1, 0, std::string("shell:echo x\0", 13));
    EXPECT_FALSE(h->receive(std::chrono::milliseconds(200)));
    h->connect();
    const auto cnxn = h->receive();
    ASSERT_TRUE(cnxn);
    EXPECT_EQ(cnxn->command, kCnxn);
}

TEST_F(SimProtocol, ShellV2PacketsCarryOutputAndExitStatus) {
    start({});
    auto h = host();
    h->connect();
    ASSERT_TRUE(h->receive());
    const std::string data = runService(*h, "shell,v2,raw:echo hi there");
    EXPECT_EQ(data, encodeShellPacket(ShellPacketId::stdoutData, "hi there\n") + encodeShellExit(0));
    const std::string missing = runService(*h, "shell,v2,raw:nosuch", 9);
    EXPECT_EQ(missing,
              encodeShellPacket(ShellPacketId::stderrData, "/system/bin/sh: nosuch: inaccessible or not found\n") +
                  encodeShellExit(127));
    // Legacy shell: one raw byte stream with stderr mixed in and no status.
    EXPECT_EQ(runService(*h, "shell:nosuch", 11), "/system/bin/sh: nosuch: inaccessible or not found\n");
}

TEST_F(SimProtocol, UnknownServiceIsRefusedWithCloseOfZero) {
    start({});
    auto h = host();
    h->connect();
    ASSERT_TRUE(h->receive());
    h->send(kOpen, 5, 0, std::string("jdwp:1234\0", 10));
    const auto reply = h->receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->command, kClse);
    EXPECT_EQ(reply->arg0, 0u);
    EXPECT_EQ(reply->arg1, 5u);
}

TEST_F(SimProtocol, OneUnacknowledgedWriteAtATimeAndLateMessagesIgnored) {
    start({});
    command("shell-set g {\"command\":\"big\",\"stdout\":\"" + std::string(20000, 'x') + "\"}");
    auto h = host();
    h->connect(4096);  // the host takes 4 KiB payloads: the output needs several WRTEs
    ASSERT_TRUE(h->receive());
    h->send(kOpen, 3, 0, std::string("shell,v2,raw:big\0", 17));
    const auto okay = h->receive();
    ASSERT_TRUE(okay && okay->command == kOkay);
    std::string data;
    int writes = 0;
    while (true) {
        const auto message = h->receive();
        ASSERT_TRUE(message);
        if (message->command == kClse) break;
        ASSERT_EQ(message->command, kWrte);
        EXPECT_LE(message->payload.size(), 4096u);
        data += message->payload;
        ++writes;
        // Nothing more may come until this WRTE is acknowledged, except the close after the last.
        const auto early = h->receive(std::chrono::milliseconds(50));
        h->send(kOkay, 3, message->arg0);
        if (early) {
            EXPECT_EQ(early->command, kClse) << "unacknowledged WRTE followed by " << commandName(early->command);
            break;
        }
    }
    EXPECT_GE(writes, 5);
    EXPECT_EQ(data.size(), 20000u + 5 * 5 + 6);  // five 4091-byte stdout packets + exit packet
    // A late close-stdin WRTE and an echoed CLSE for a finished stream get no answer.
    h->send(kWrte, 3, okay->arg0, encodeShellPacket(ShellPacketId::closeStdin, ""));
    h->send(kClse, 3, okay->arg0);
    EXPECT_FALSE(h->receive(std::chrono::milliseconds(200)));
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

TEST_F(SimProtocol, UnknownKeyWaitsForTheUserThenConnectsAndIsRemembered) {
    start({{"auth", "key"}});
    const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_RSA_gen(2048u));
    auto h = host();
    h->connect();
    const auto token = h->receive();
    ASSERT_TRUE(token);
    ASSERT_EQ(token->command, kAuth);
    EXPECT_EQ(token->arg0, kAuthToken);
    ASSERT_EQ(token->payload.size(), 20u);  // any other length crashes the adb server
    h->send(kAuth, kAuthSignature, 0, signAdbToken(key.get(), token->payload));
    const auto retry = h->receive();
    ASSERT_TRUE(retry && retry->command == kAuth);
    EXPECT_NE(retry->payload, token->payload);  // a fresh token after a rejected signature
    h->send(kAuth, kAuthRsaPublicKey, 0, AdbPublicKey::fromRsaKey(key.get(), "tester@host").line() + '\0');
    EXPECT_FALSE(h->receive(std::chrono::milliseconds(300)));  // the prompt is up; nothing happens
    EXPECT_EQ(command("status g").at("pendingKeys"), 1);
    EXPECT_EQ(command("auth-accept g").at("accepted"), 1);
    const auto cnxn = h->receive();
    ASSERT_TRUE(cnxn);
    EXPECT_EQ(cnxn->command, kCnxn);

    auto again = host();
    again->connect();
    const auto token2 = again->receive();
    ASSERT_TRUE(token2 && token2->command == kAuth);
    again->send(kAuth, kAuthSignature, 0, signAdbToken(key.get(), token2->payload));
    const auto cnxn2 = again->receive();
    ASSERT_TRUE(cnxn2);
    EXPECT_EQ(cnxn2->command, kCnxn);
}

TEST_F(SimProtocol, NeverRejectsAndHoldStaysSilent) {
    start({{"auth", "never"}});
    const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_RSA_gen(2048u));
    auto h = host();
    h->connect();
    auto token = h->receive();
    ASSERT_TRUE(token);
    h->send(kAuth, kAuthRsaPublicKey, 0, AdbPublicKey::fromRsaKey(key.get(), "x@y").line() + '\0');
    EXPECT_FALSE(h->receive(std::chrono::milliseconds(200)));
    EXPECT_EQ(command("status g").at("pendingKeys"), 0);

    command("auth g hold");
    auto held = host();
    held->connect();
    token = held->receive();
    ASSERT_TRUE(token);
    held->send(kAuth, kAuthSignature, 0, signAdbToken(key.get(), token->payload));
    EXPECT_FALSE(held->receive(std::chrono::milliseconds(200)));  // "authorizing" forever

    command("auth g any");
    auto any = host();
    any->connect();
    token = any->receive();
    ASSERT_TRUE(token);
    any->send(kAuth, kAuthSignature, 0, std::string(256, 'z'));
    const auto cnxn = any->receive();
    ASSERT_TRUE(cnxn);
    EXPECT_EQ(cnxn->command, kCnxn);
}

TEST_F(SimProtocol, SilentGlassesHoldTheHandshakeUntilOnline) {
    start({});
    command("silent g on");
    auto h = host();
    h->connect();
    EXPECT_FALSE(h->receive(std::chrono::milliseconds(200)));
    command("online g");
    const auto cnxn = h->receive();
    ASSERT_TRUE(cnxn);
    EXPECT_EQ(cnxn->command, kCnxn);
}

TEST_F(SimProtocol, ProtocolFaultsCloseOnlyThatConnection) {
    start({});
    auto healthy = host();
    healthy->connect();
    ASSERT_TRUE(healthy->receive());

    auto badMagic = host();
    std::string bytes = encodeMessage({kCnxn, kVersionSkipChecksum, kMaxPayload, "host::"}, true);
    bytes[20] ^= 0xff;
    badMagic->sendRaw(bytes);
    EXPECT_TRUE(badMagic->waitForClose());

    auto oversize = host();
    oversize->connect();
    ASSERT_TRUE(oversize->receive());
    oversize->sendRaw(encodeHeader(kWrte, 1, 1, std::string(kMaxPayload + 1, 'x'), false));
    EXPECT_TRUE(oversize->waitForClose());

    {
        auto truncated = host();
        truncated->sendRaw(encodeMessage({kCnxn, kVersionSkipChecksum, kMaxPayload, "host::"}, true).substr(0, 30));
    }  // the client goes away mid-message

    auto garbage = host();
    garbage->sendRaw("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(garbage->waitForClose());

    // The first connection still works, and new ones are accepted.
    EXPECT_EQ(runService(*healthy, "shell,v2,raw:echo ok"),
              encodeShellPacket(ShellPacketId::stdoutData, "ok\n") + encodeShellExit(0));
    auto fresh = host();
    fresh->connect();
    ASSERT_TRUE(fresh->receive());
}

TEST_F(SimProtocol, ClientDroppingMidPullLeavesTheSimulatorServing) {
    start({});
    command("mkfile g /sdcard/big.bin 3000000");
    {
        auto h = host();
        h->connect();
        ASSERT_TRUE(h->receive());
        h->send(kOpen, 1, 0, std::string("sync:\0", 6));
        ASSERT_TRUE(h->receive());
        h->send(kWrte, 1, 1, sync::encodeRequest(sync::kRecv, "/sdcard/big.bin"));
        ASSERT_TRUE(h->receive());  // OKAY for our WRTE or the first DATA
    }                               // gone without acknowledging anything
    auto h = host();
    h->connect();
    ASSERT_TRUE(h->receive());
    EXPECT_EQ(runService(*h, "shell,v2,raw:echo still"),
              encodeShellPacket(ShellPacketId::stdoutData, "still\n") + encodeShellExit(0));
}

}  // namespace
}  // namespace orvan::sim
