#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "adb/ListeningSocketOwner.h"

namespace orvan {
namespace {

namespace fs = std::filesystem;

// 5037 is 0x13AD, 5038 is 0x13AE. The lines keep the kernel's column layout.
constexpr const char* kTcpHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
std::string tcpLine(const std::string& local, const std::string& remote, const std::string& state, int uid,
                    long inode) {
    return "   0: " + local + " " + remote + " " + state + " 00000000:00000000 00:00000000 00000000  " +
           std::to_string(uid) + "        0 " + std::to_string(inode) + " 1 0000000000000000 100 0 0 10 0\n";
}

std::vector<std::uint64_t> inodes(const std::vector<ListeningSocket>& sockets) {
    std::vector<std::uint64_t> result;
    for (const auto& socket : sockets) result.push_back(socket.inode);
    return result;
}

TEST(ListeningSocketTableTest, KeepsOnlyListenersOnThePortAlsoInTheIpv6TableAndSkipsLinesOfTheWrongShape) {
    std::string table = std::string(kTcpHeader) +
                        tcpLine("0100007F:13AD", "00000000:0000", "0A", 1000, 41234) +  // 127.0.0.1:5037 listen
                        tcpLine("0100007F:13AD", "0100007F:A2C4", "01", 1000, 41299) +  // a client connection
                        tcpLine("0100007F:A2C4", "0100007F:13AD", "01", 1000, 41300) +  // its other end
                        tcpLine("00000000:13AE", "00000000:0000", "0A", 0, 555) +       // 0.0.0.0:5038
                        tcpLine("00000000:13AD", "00000000:0000", "0A", 0, 0) +         // being torn down
                        tcpLine("00000000:13AD", "00000000:0000", "0A", 7, 777);        // 0.0.0.0:5037
    auto sockets = ListeningSocketOwner::parseListeningSockets(table, 5037);
    ASSERT_EQ(inodes(sockets), (std::vector<std::uint64_t>{41234, 777}));
    EXPECT_EQ(sockets[0].uid, 1000u);
    EXPECT_EQ(sockets[1].uid, 7u);
    EXPECT_EQ(inodes(ListeningSocketOwner::parseListeningSockets(table, 5038)), (std::vector<std::uint64_t>{555}));
    EXPECT_TRUE(ListeningSocketOwner::parseListeningSockets(table, 41668).empty());  // 0xA2C4: no listener

    table =
        "  sl  local_address                         remote_address                        st tx_queue rx_queue tr "
        "tm->when retrnsmt   uid  timeout inode\n" +
        tcpLine("00000000000000000000000001000000:13AD", "00000000000000000000000000000000:0000", "0A", 1000, 9001);
    EXPECT_EQ(inodes(ListeningSocketOwner::parseListeningSockets(table, 5037)), (std::vector<std::uint64_t>{9001}));

    // Lines of the wrong shape are skipped.
    table = std::string(kTcpHeader) + "   0: 0100007F:13AD 00000000:0000 0A 00000000:00000000\n" +  // cut short
            tcpLine("0100007F:ZZZZ", "00000000:0000", "0A", 1000, 1) +                              // port not hex
            tcpLine("0100007F", "00000000:0000", "0A", 1000, 2) +                                   // no port
            tcpLine("0100007F:13AD", "00000000:0000", "0A", 1000, 3).replace(0, 6, "   0  ") +      // no "N:"
            "   0: 0100007F:13AD 00000000:0000 0A 0:0 0:0 0 abc 0 12x\n" +                          // bad numbers
            "   0: 0100007F:113AD 00000000:0000 0A 0:0 0:0 0 1000 0 4\n" +                          // port > 65535
            std::string("\0\xff\xfe garbage \x01\n", 14) + tcpLine("0100007F:13AD", "00000000:0000", "0A", 1000, 5);
    EXPECT_EQ(inodes(ListeningSocketOwner::parseListeningSockets(table, 5037)), (std::vector<std::uint64_t>{5}));
    EXPECT_TRUE(ListeningSocketOwner::parseListeningSockets("", 5037).empty());
    EXPECT_TRUE(ListeningSocketOwner::parseListeningSockets(kTcpHeader, 5037).empty());
}

// The real proc file system: a socket this test opens must be found, and this process with it.
class RealProcTest : public ::testing::Test {
protected:
    void expectOwnedByThisProcess(int family) {
        sockaddr_in6 address{};  // large enough for either family; port 0 picks a free one
        address.sin6_family = static_cast<sa_family_t>(family);
        if (family == AF_INET6)
            address.sin6_addr = in6addr_loopback;
        else
            reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        int fd = socket(family, SOCK_STREAM, 0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 1) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (fd >= 0) close(fd);
            GTEST_SKIP() << "no loopback listener of this family here";
        }
        int port = ntohs(address.sin6_port);  // the port sits at the same offset in both families
        ListeningSocketOwner owner;
        auto sockets = owner.listeningSockets(port);
        ASSERT_EQ(sockets.size(), 1u);
        EXPECT_EQ(sockets[0].uid, geteuid());
        // Both sources tell the same: the kernel's diagnostics (the fast path) and the tables.
        EXPECT_EQ(inodes(owner.listeningSocketsFromTables(port)), inodes(sockets));
        if (auto fromKernel = ListeningSocketOwner::listeningSocketsFromKernel(port)) {
            EXPECT_EQ(inodes(*fromKernel), inodes(sockets));
            ASSERT_EQ(fromKernel->size(), 1u);
            EXPECT_EQ((*fromKernel)[0].uid, geteuid());
        }
        EXPECT_EQ(owner.ownerOf(sockets), std::optional<pid_t>(getpid()));
        EXPECT_TRUE(owner.holds(getpid(), sockets));
        EXPECT_EQ(owner.executableOf(getpid()), std::optional<fs::path>(fs::read_symlink("/proc/self/exe")));
        close(fd);
        EXPECT_TRUE(owner.listeningSockets(port).empty());
        EXPECT_TRUE(owner.listeningSocketsFromTables(port).empty());
        EXPECT_FALSE(owner.holds(getpid(), sockets));
    }
};

TEST_F(RealProcTest, FindsItsOwnIpv4AndIpv6Listeners) {
    expectOwnedByThisProcess(AF_INET);
    expectOwnedByThisProcess(AF_INET6);
}

}  // namespace
}  // namespace orvan
