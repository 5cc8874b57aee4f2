#include "tests/support/broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace isp::test {

namespace {

int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin_port);
}

bool answers(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return up;
}

void mustRun(const std::vector<std::string>& argv) {
  const Finished f = runProgram(argv);
  if (f.status != 0) throw std::runtime_error(argv[0] + " failed: " + f.err);
}

}  // namespace

TestBroker::TestBroker(Options options) : options_(std::move(options)), port_(freePort()) {
  const std::filesystem::path d = dir_.path();
  std::ofstream conf(d / "mosquitto.conf");
  conf << "listener " << port_ << " 127.0.0.1\n";
  if (options_.tls) {
    const std::string ca = (d / "ca").string(), server = (d / "server").string();
    mustRun({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-days", "2", "-subj", "/CN=isp test authority", "-keyout", ca + ".key", "-out", ca + ".crt"});
    mustRun({"/usr/bin/openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj",
             "/CN=localhost", "-keyout", server + ".key", "-out", server + ".csr"});
    std::ofstream(d / "san.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    mustRun({"/usr/bin/openssl", "x509", "-req", "-in", server + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
             "-CAcreateserial", "-days", "2", "-extfile", (d / "san.ext").string(), "-out", server + ".crt"});
    conf << "cafile " << ca << ".crt\ncertfile " << server << ".crt\nkeyfile " << server << ".key\n";
  }
  if (!options_.user.empty()) {
    mustRun({"/usr/bin/mosquitto_passwd", "-b", "-c", (d / "passwords").string(), options_.user, options_.password});
    conf << "allow_anonymous false\npassword_file " << (d / "passwords").string() << "\n";
  } else {
    conf << "allow_anonymous true\n";
  }
  if (options_.persistent)
    conf << "persistence true\npersistence_location " << d.string() << "/\nautosave_interval 1\n";
  conf << "log_dest file " << (d / "broker.log").string() << "\n";
  conf.close();
  // Started by root, mosquitto runs as its own user: the folder is that user's.
  if (const passwd* user = ::getpwnam("mosquitto"); user && ::geteuid() == 0) {
    ::chown(d.c_str(), user->pw_uid, user->pw_gid);
    for (const auto& entry : std::filesystem::directory_iterator(d))
      ::chown(entry.path().c_str(), user->pw_uid, user->pw_gid);
  }
  start();
}

TestBroker::~TestBroker() { stop(); }

std::string TestBroker::url() const {
  return (options_.tls ? "mqtts://localhost:" : "mqtt://127.0.0.1:") + std::to_string(port_);
}

void TestBroker::start() {
  const std::string conf = (dir_.path() / "mosquitto.conf").string();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives the test
    ::execlp("mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 100 && !answers(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!answers(port_)) throw std::runtime_error("mosquitto did not start; see " + conf);
}

void TestBroker::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (::waitpid(pid_, &status, WNOHANG) == 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

Subscriber::Subscriber(int port, const std::string& topic, const std::string& clientId) : topic_(topic) {
  mosquitto_lib_init();
  client_ = mosquitto_new(clientId.empty() ? nullptr : clientId.c_str(), clientId.empty(), this);
  mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
    if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->topic_.c_str(), 1);
  });
  mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard lock(s->mu_);
    s->got_.push_back({m->topic,
                       std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                       m->retain});
  });
  mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
    auto* s = static_cast<Subscriber*>(self);
    std::lock_guard lock(s->mu_);
    s->subscribed_ = true;
  });
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
  mosquitto_connect(client_, "127.0.0.1", port, 30);
  mosquitto_loop_start(client_);
  // Subscribed before the test goes on.
  for (int i = 0; i < 500; ++i) {
    if (std::lock_guard lock(mu_); subscribed_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Subscriber::~Subscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
}

std::vector<Message> Subscriber::messages() {
  std::lock_guard lock(mu_);
  return got_;
}

bool Subscriber::waitFor(const std::function<bool(const std::vector<Message>&)>& done,
                         std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done(messages()) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return done(messages());
}

}  // namespace isp::test
