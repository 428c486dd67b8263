// A password set by the tool lets its user log in to a real CVS server.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "cvs_repo.h"
#include "harness.h"

using namespace rk_test;

namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

void wait_until_listening(int port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("the server never listened");
}

// "cvs pserver" behind socat on a loopback port, stopped by its process id.
class pserver {
 public:
  pserver(const std::string& repo, int port) {
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      std::string listen = "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork";
      std::string serve = "EXEC:cvs -f --allow-root=" + repo + " pserver";
      execlp("socat", "socat", listen.c_str(), serve.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    wait_until_listening(port);
  }
  ~pserver() {
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pserver(const pserver&) = delete;
  pserver& operator=(const pserver&) = delete;

 private:
  pid_t pid_;
};

TEST(pserver_login, passwords_set_by_add_and_pass_log_in) {
  reset_sandbox();
  scratch_dir dir;
  // The server runs the session as nobody, who must reach the repository.
  chmod(dir.path().c_str(), 0755);
  std::string repo = make_cvs_repo(dir, "", "", cvs_setup::plain);
  std::string home = dir / "home";
  run_program({"mkdir", "-p", home});

  ASSERT_EQ(run_tool({"-d", repo, "add", "alice", "bob"}, "first\nnobody\n\nbobpw\nnobody\n\n").status, 0);
  ASSERT_EQ(run_tool({"-d", repo, "pass", "bob"}, "second\n").status, 0);
  // A user that only an address made (a typo of "bob", say) is locked.
  ASSERT_EQ(run_tool({"-d", repo, "email", "bbo"}, "bbo@x\n").status, 0);
  // A stronger hash than DES, made elsewhere and stored as typed.
  std::string sha512 = run_program({"openssl", "passwd", "-6", "-salt", "0123456789abcdef", "long passphrase"}).out;
  sha512.pop_back();
  result stored = run_tool({"-C", "-d", repo, "add", "dan"}, sha512 + "\nnobody\n\n");
  ASSERT_EQ(stored.status, 0);
  ASSERT_EQ(stored.out.find("Refusing"), std::string::npos) << stored.out;

  int port = free_loopback_port();
  pserver server(repo, port);
  auto login = [&](const std::string& user, const std::string& password) {
    std::string root = ":pserver:" + user + ":" + password + "@127.0.0.1:" + std::to_string(port) + repo;
    return run_program({"cvs", "-d", root, "login"}, home, {{"HOME", home}}).status;
  };
  EXPECT_EQ(login("alice", "first"), 0);
  EXPECT_EQ(login("bob", "second"), 0);
  EXPECT_NE(login("bob", "bobpw"), 0);
  EXPECT_NE(login("alice", "wrong"), 0);
  for (const char* any : {"", "x", "bbo"}) EXPECT_NE(login("bbo", any), 0) << any;
  EXPECT_EQ(login("dan", "long passphrase"), 0);
  EXPECT_NE(login("dan", "long passp"), 0);

  ASSERT_EQ(run_tool({"-d", repo, "pass", "bbo"}, "now set\n").status, 0);
  EXPECT_EQ(login("bbo", "now set"), 0);
}

}  // namespace
