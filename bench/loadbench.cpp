// Load bench for the simulator: starts the real program (headless, on free ports), drives it
// over loopback TCP as a host would, and prints one line per figure and a final JSON object.
//
//   loadbench [--vorlak PATH] [--polls N] [--quick]
//
// Figures, measured side by side in one run against the same loopback:
//  - poll round trip (EOT "31" ENQ to the complete reply): p50, p99, max, next to a minimal
//    echo server written here (blocking sockets, one thread);
//  - the same while an emboss job of 200 glyphs runs;
//  - polls per second with one host pipelining requests;
//  - CPU time of the simulator per wall second while idle, during a reset sequence and during
//    a job (from /proc), and its resident memory after start and after 100,000 polls;
//  - time from process start to the first answered poll;
//  - a host streaming 16 and 64 MiB without any request, then a poll: time and peak memory.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kPoll = std::string("\x04") + "31\x05";

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "loadbench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

int connectTo(int port, int timeoutMs = 5000)
{
    const auto start = Clock::now();
    for (;;) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        if (secondsSince(start) * 1000 > timeoutMs)
            die("connect to port " + std::to_string(port));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void sendAll(int fd, const std::string &data)
{
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            die("send");
        off += static_cast<size_t>(n);
    }
}

// Reads until `count` bytes have arrived; false on time-out.
bool recvExactly(int fd, std::string &out, size_t count, int timeoutMs = 10000)
{
    out.clear();
    char buf[4096];
    while (out.size() < count) {
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, timeoutMs);
        if (r <= 0)
            return false;
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - out.size()), 0);
        if (n <= 0)
            return false;
        out.append(buf, static_cast<size_t>(n));
    }
    return true;
}

int freePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct Stats {
    double p50 = 0, p99 = 0, max = 0;
};

Stats stats(std::vector<double> us)
{
    Stats s;
    if (us.empty())
        return s;
    std::sort(us.begin(), us.end());
    s.p50 = us[us.size() / 2];
    s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    s.max = us.back();
    return s;
}

// --- the minimal echo server: answers every 4 bytes with 2 ---
class EchoServer
{
public:
    EchoServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 5) != 0)
            die("echo server");
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~EchoServer()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int port = 0;

private:
    void run()
    {
        int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[4096];
        size_t pending = 0;
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            pending += static_cast<size_t>(n);
            std::string reply;
            while (pending >= 4) {
                pending -= 4;
                reply += "\x06"
                         "1";
            }
            if (!reply.empty())
                sendAll(fd, reply);
        }
        ::close(fd);
    }
    int m_listen = -1;
    std::thread m_thread;
};

// --- the simulator under test ---
class Simulator
{
public:
    Simulator(const std::string &program, double speed)
    {
        hostPort = freePort();
        controlPort = freePort();
        char tmpl[] = "/tmp/loadbench-XXXXXX";
        dataDir = ::mkdtemp(tmpl);
        {
            std::ofstream ini(dataDir + "/Vorlak.ini");
            ini << "[Setup]\nPort=" << hostPort << "\n";
        }
        started = Clock::now();
        pid = ::fork();
        if (pid == 0) {
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            const std::string cp = std::to_string(controlPort);
            const std::string sp = std::to_string(speed);
            ::execl(program.c_str(), program.c_str(), "--headless", "--data-dir", dataDir.c_str(),
                    "--control-port", cp.c_str(), "--speed", sp.c_str(), nullptr);
            _exit(127);
        }
    }
    ~Simulator()
    {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        std::string cmd = "rm -rf '" + dataDir + "'";
        (void)std::system(cmd.c_str());
    }
    double cpuSeconds() const
    {
        std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
        std::string all((std::istreambuf_iterator<char>(f)), {});
        std::istringstream rest(all.substr(all.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
    }
    long statusKb(const char *key) const
    {
        std::ifstream f("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(f, line)) {
            if (line.rfind(key, 0) == 0)
                return std::stol(line.substr(std::strlen(key) + 1));
        }
        return -1;
    }
    // One JSON request line on the control port; gives the reply line.
    std::string control(const std::string &json)
    {
        if (m_control < 0)
            m_control = connectTo(controlPort);
        sendAll(m_control, json + "\n");
        std::string line;
        char c;
        while (::recv(m_control, &c, 1, 0) == 1 && c != '\n')
            line += c;
        return line;
    }

    pid_t pid = -1;
    int hostPort = 0;
    int controlPort = 0;
    std::string dataDir;
    Clock::time_point started;

private:
    int m_control = -1;
};

std::vector<double> roundTrips(int fd, int count, size_t replyLength)
{
    std::vector<double> us;
    us.reserve(static_cast<size_t>(count));
    std::string reply;
    for (int i = 0; i < count; ++i) {
        const auto t = Clock::now();
        sendAll(fd, kPoll);
        if (!recvExactly(fd, reply, replyLength))
            die("poll reply");
        us.push_back(secondsSince(t) * 1e6);
    }
    return us;
}

std::string formatMessage()
{
    // 85.6 x 54.0 mm card, four fields at 5 mm line distance, pitch 14 (0.1 inch).
    std::string m = std::string("\x01") + "31\x02" + "F]00 U0 " + "  0540  0856";
    const char *records[] = {" 0100 050 0  14", " 0170 050 0  14", " 0240 050 1  14",
                             " 0310 050 0  14"};
    for (const char *r : records)
        m += r;
    return m + "\x03";
}

std::string embossMessage(int glyphs)
{
    std::string text;
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int placed = 0;
    for (int line = 0; line < 4 && placed < glyphs; ++line) {
        std::string l;
        for (int j = 0; j < 50 && placed < glyphs; ++j, ++placed)
            l += alphabet[static_cast<size_t>(placed * 7 + line) % alphabet.size()];
        text += l + "\r\n";
    }
    return std::string("\x01") + "31\x02" + "T]00" + text + "@BENCH\x03";
}

std::map<std::string, double> g_figures;

void figure(const std::string &name, double value, const char *unit)
{
    g_figures[name] = value;
    std::printf("%-44s %12.1f %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    std::string program = "./app/vorlak";
    int polls = 20000;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--vorlak" && i + 1 < argc)
            program = argv[++i];
        else if (a == "--polls" && i + 1 < argc)
            polls = std::atoi(argv[++i]);
        else if (a == "--quick")
            quick = true;
        else {
            std::fprintf(stderr, "usage: loadbench [--vorlak PATH] [--polls N] [--quick]\n");
            return 2;
        }
    }
    if (quick)
        polls = 2000;
    std::signal(SIGPIPE, SIG_IGN);

    // Echo server first, same loopback, same client code.
    {
        EchoServer echo;
        int fd = connectTo(echo.port);
        roundTrips(fd, 200, 2); // warm-up
        const Stats s = stats(roundTrips(fd, polls, 2));
        ::close(fd);
        figure("echo_rtt_p50_us", s.p50, "us");
        figure("echo_rtt_p99_us", s.p99, "us");
        figure("echo_rtt_max_us", s.max, "us");
    }

    Simulator sim(program, 1.0);
    int host = -1;
    {
        // Start to first answered poll.
        std::string reply;
        for (;;) {
            host = connectTo(sim.hostPort, 10000);
            sendAll(host, kPoll);
            if (recvExactly(host, reply, 2, 2000))
                break;
            ::close(host);
        }
        figure("start_to_first_reply_ms", secondsSince(sim.started) * 1000, "ms");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long rssStart = sim.statusKb("VmRSS:");
    figure("rss_after_start_kb", double(rssStart), "kB");

    {
        double c0 = sim.cpuSeconds();
        const auto t = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(quick ? 2 : 5));
        figure("cpu_idle_percent", 100 * (sim.cpuSeconds() - c0) / secondsSince(t), "%");
    }

    roundTrips(host, 200, 2);
    {
        const Stats s = stats(roundTrips(host, polls, 2));
        figure("sim_rtt_p50_us", s.p50, "us");
        figure("sim_rtt_p99_us", s.p99, "us");
        figure("sim_rtt_max_us", s.max, "us");
    }

    {
        // Pipelined: 1000 polls in flight per batch, replies counted as they come.
        const int total = quick ? 20000 : 100000;
        const int batch = 100;
        std::string burst;
        for (int i = 0; i < batch; ++i)
            burst += kPoll;
        const auto t = Clock::now();
        std::string reply;
        int answered = 0;
        for (int sent = 0; sent < total; sent += batch) {
            sendAll(host, burst);
            // Polls arriving in one chunk are answered once per dispatch, so count bytes
            // until the stream goes quiet.
            char buf[65536];
            pollfd p{host, POLLIN, 0};
            while (::poll(&p, 1, 20) > 0) {
                ssize_t n = ::recv(host, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                answered += int(n / 2);
            }
        }
        const double secs = secondsSince(t);
        figure("pipelined_requests_per_s", total / secs, "req/s");
        figure("pipelined_replies_per_s", answered / secs, "replies/s");
    }

    {
        // Memory after 100,000 polls in all (the ones above count).
        const int more = quick ? 10000 : std::max(0, 100000 - polls - 400);
        roundTrips(host, more, 2);
        const long rss = sim.statusKb("VmRSS:");
        figure("rss_after_100k_polls_kb", double(rss), "kB");
        figure("rss_growth_percent", 100.0 * double(rss - rssStart) / double(rssStart), "%");
    }

    {
        // A reset sequence: Clear (the machine is powered on), 2 seconds of waiting.
        double c0 = sim.cpuSeconds();
        const auto t = Clock::now();
        sim.control(R"({"cmd":"press","button":"clear"})");
        sim.control(R"({"cmd":"wait_idle","timeout_ms":10000})");
        figure("cpu_reset_sequence_percent", 100 * (sim.cpuSeconds() - c0) / secondsSince(t),
               "%");
    }

    {
        // A job of 200 glyphs (32 s at the machine's pace) with polls between strikes.
        sendAll(host, formatMessage());
        std::string reply;
        recvExactly(host, reply, 2);
        const int glyphs = quick ? 40 : 200;
        sendAll(host, embossMessage(glyphs));
        recvExactly(host, reply, 2);
        double c0 = sim.cpuSeconds();
        const auto t = Clock::now();
        std::vector<double> us;
        while (secondsSince(t) < glyphs * 0.16 - 1.0) {
            const auto t1 = Clock::now();
            sendAll(host, kPoll);
            if (!recvExactly(host, reply, 2))
                die("poll during job");
            us.push_back(secondsSince(t1) * 1e6);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const double wall = secondsSince(t);
        const double cpu = sim.cpuSeconds() - c0;
        const Stats s = stats(us);
        figure("job_polls", double(us.size()), "polls");
        figure("job_rtt_p50_us", s.p50, "us");
        figure("job_rtt_p99_us", s.p99, "us");
        figure("job_rtt_max_us", s.max, "us");
        figure("cpu_job_percent", 100 * cpu / wall, "%");
        sim.control(R"({"cmd":"wait_idle","timeout_ms":60000})");
    }

    for (int mib : {16, 64}) {
        if (quick && mib > 16)
            break;
        // A host streaming without any request, then one poll.
        Simulator fresh(program, 1.0);
        int fd = connectTo(fresh.hostPort, 10000);
        std::string chunk(1 << 20, 'x');
        const auto t = Clock::now();
        for (int i = 0; i < mib; ++i)
            sendAll(fd, chunk);
        sendAll(fd, kPoll);
        std::string reply;
        if (!recvExactly(fd, reply, 2, 120000))
            die("poll after stream");
        figure("stream_" + std::to_string(mib) + "mib_then_poll_s", secondsSince(t), "s");
        figure("stream_" + std::to_string(mib) + "mib_peak_rss_kb", double(fresh.statusKb("VmHWM:")),
               "kB");
        ::close(fd);
    }
    ::close(host);

    std::printf("{");
    bool first = true;
    for (const auto &[name, value] : g_figures) {
        std::printf("%s\"%s\": %.1f", first ? "" : ", ", name.c_str(), value);
        first = false;
    }
    std::printf("}\n");
    return 0;
}
