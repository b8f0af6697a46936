// Load bench for the simulator: starts the real program (headless, on free ports), drives it
// over loopback TCP as a host would, and prints one line per figure and a final JSON object.
//
//   loadbench [--vorlak PATH] [--polls N] [--quick]
//
// Figures, measured side by side in one run against the same loopback:
//  - poll round trip (EOT "31" ENQ to the complete reply): p50, p99, max, next to a minimal
//    echo server written here (blocking sockets, a process of its own; rounds of the two
//    alternate), and the simulator's CPU per poll; then the same with both servers pinned to
//    the host's CPU and to another CPU, where the scheduler's choice cannot tip the ratio;
//  - the same while an emboss job of 200 glyphs runs (a poll every 5 ms between strikes), next
//    to polls every 5 ms with no job;
//  - polls per second with one host pipelining requests (each poll its own write, no waiting;
//    polls that arrive together are consumed together and answered once, so the replies per
//    second are given too);
//  - CPU time of the simulator per wall second while idle, during a reset sequence and during
//    a job nobody polls (from /proc), and its resident memory after start and after 100,000
//    polls;
//  - time from process start to the first answered poll;
//  - a host streaming 16 and 64 MiB without any request, then a poll: time, peak memory and
//    peak growth per MiB (equal growth per MiB shows the cost is linear); and 256 MiB, beyond
//    the receive buffer's limit, where the peak stays that of the limit.
// The machine is shared: the first figure is the load average at the start of the run.

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
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

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
// A process of its own, like the simulator, so both replies cross the same process boundary
// and the same scheduler: the difference is what the simulator adds.
class EchoServer
{
public:
    EchoServer()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(listener, 5) != 0)
            die("echo server");
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        m_pid = ::fork();
        if (m_pid == 0) {
            run(listener);
            _exit(0);
        }
        ::close(listener);
    }
    ~EchoServer()
    {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    pid_t pid() const { return m_pid; }
    int port = 0;

private:
    static void run(int listener)
    {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buf[4096];
        size_t pending = 0;
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
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
    pid_t m_pid = -1;
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

// The CPUs this bench may run on, in order.
std::vector<int> allowedCpus(cpu_set_t *mask)
{
    std::vector<int> cpus;
    if (::sched_getaffinity(0, sizeof *mask, mask) != 0)
        return cpus;
    for (int i = 0; i < CPU_SETSIZE; ++i) {
        if (CPU_ISSET(i, mask))
            cpus.push_back(i);
    }
    return cpus;
}

// Pins one thread (0: the calling one) to one CPU.
void pinTo(pid_t thread, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (::sched_setaffinity(thread, sizeof set, &set) != 0)
        die("sched_setaffinity");
}

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

constexpr int kFields = 8;
constexpr int kGlyphsPerField = 25;

std::string formatMessage()
{
    // 85.6 x 54.0 mm card; eight fields 5.5 mm apart from y 8 mm, x 4 mm, Font 0 (Font 1 for
    // every third), pitch 14/140 inch. A record: Y at 2-4, X at 6-8, font at 10, pitch at 13-14.
    std::string m = std::string("\x01") + "31\x02" + "F]00 U0 " + "H:0540W:0856";
    for (int i = 0; i < kFields; ++i) {
        char record[16];
        std::snprintf(record, sizeof record, "Y%03dX040F%dP014 ", 80 + 55 * i, i % 3 == 2);
        m += record;
    }
    return m + "\x03";
}

// Emboss data with `glyphs` characters (at most kFields x kGlyphsPerField), no blanks.
std::string embossMessage(int glyphs)
{
    std::string text;
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int placed = 0;
    for (int line = 0; line < kFields && placed < glyphs; ++line) {
        std::string l;
        for (int j = 0; j < kGlyphsPerField && placed < glyphs; ++j, ++placed)
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

double loadAverage()
{
    std::ifstream f("/proc/loadavg");
    double one = -1;
    f >> one;
    return one;
}

struct SideBySide {
    std::vector<double> echoUs, simUs;
    double simCpuSeconds = 0;
};

// `polls` round trips to each server in `rounds` rounds that alternate between them.
SideBySide alternatingRounds(int echo, int host, const Simulator &sim, int polls, int rounds)
{
    SideBySide r;
    for (int round = 0; round < rounds; ++round) {
        const int count = polls / rounds + (round < polls % rounds ? 1 : 0);
        const std::vector<double> e = roundTrips(echo, count, 2);
        r.echoUs.insert(r.echoUs.end(), e.begin(), e.end());
        const double c0 = sim.cpuSeconds();
        const std::vector<double> s = roundTrips(host, count, 2);
        r.simCpuSeconds += sim.cpuSeconds() - c0;
        r.simUs.insert(r.simUs.end(), s.begin(), s.end());
    }
    return r;
}

// CPU seconds the simulator used and wall seconds passed while `work` ran.
template <typename Work> double cpuPercentDuring(const Simulator &sim, Work work)
{
    const double c0 = sim.cpuSeconds();
    const auto t = Clock::now();
    work();
    return 100 * (sim.cpuSeconds() - c0) / secondsSince(t);
}

// Polls every `gapMs` for `seconds`, each answered with `status`; gives the round trips.
std::vector<double> pollsDuring(int fd, double seconds, int gapMs, char status = '2')
{
    std::vector<double> us;
    std::string reply;
    const auto t = Clock::now();
    while (secondsSince(t) < seconds) {
        const auto t1 = Clock::now();
        sendAll(fd, kPoll);
        if (!recvExactly(fd, reply, 2))
            die("poll during job");
        if (reply != std::string("\x06") + status)
            die("poll answered '" + reply + "', not ACK " + status);
        us.push_back(secondsSince(t1) * 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    return us;
}

// A job of `glyphs` strikes on the current format; returns once its acknowledgement is in.
void startJob(int fd, int glyphs)
{
    std::string reply;
    sendAll(fd, embossMessage(glyphs));
    if (!recvExactly(fd, reply, 2) || reply != "\x06"
                                               "2")
        die("emboss data not acknowledged");
}

void waitIdle(Simulator &sim, int timeoutMs)
{
    const std::string answer =
        sim.control(R"({"cmd":"wait_idle","timeout_ms":)" + std::to_string(timeoutMs) + "}");
    if (answer.find("\"idle\":true") == std::string::npos)
        die("machine not idle: " + answer);
}

} // namespace

int main(int argc, char **argv)
{
    std::string program = "./app/vorlak";
    int polls = 20000;
    bool quick = false;
    bool pollsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--vorlak" && i + 1 < argc) {
            program = argv[++i];
        } else if (a == "--polls" && i + 1 < argc) {
            polls = std::max(1, std::atoi(argv[++i]));
            pollsGiven = true;
        } else if (a == "--quick") {
            quick = true;
        } else {
            std::fprintf(stderr, "usage: loadbench [--vorlak PATH] [--polls N] [--quick]\n");
            return 2;
        }
    }
    if (quick && !pollsGiven)
        polls = 2000;
    const int jobGlyphs = quick ? 40 : 200;
    const int totalPolls = quick ? 20000 : 100000;
    std::signal(SIGPIPE, SIG_IGN);
    figure("loadavg_1min_at_start", loadAverage(), "");

    // The echo server answers on the same loopback, to the same client code, in rounds that
    // alternate with the simulator's: whatever else the machine does at a moment weighs on both.
    EchoServer server;
    const int echo = connectTo(server.port);

    Simulator sim(program, 1.0);
    int host = -1;
    {
        // Start to the first answered poll: the host retries until the port is open.
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

    figure("cpu_idle_percent",
           cpuPercentDuring(
               sim, [&] { std::this_thread::sleep_for(std::chrono::seconds(quick ? 2 : 5)); }),
           "%");

    int pollsSoFar = 1;
    {
        roundTrips(echo, 200, 2); // warm-up
        roundTrips(host, 200, 2);
        pollsSoFar += 200;
        const SideBySide all = alternatingRounds(echo, host, sim, polls, 10);
        pollsSoFar += polls;
        const Stats e = stats(all.echoUs);
        const Stats s = stats(all.simUs);
        figure("echo_rtt_p50_us", e.p50, "us");
        figure("echo_rtt_p99_us", e.p99, "us");
        figure("echo_rtt_max_us", e.max, "us");
        figure("sim_rtt_p50_us", s.p50, "us");
        figure("sim_rtt_p99_us", s.p99, "us");
        figure("sim_rtt_max_us", s.max, "us");
        figure("sim_cpu_per_poll_us", all.simCpuSeconds * 1e6 / polls, "us");
        figure("sim_to_echo_p99_ratio", s.p99 / e.p99, "x");
    }
    cpu_set_t allowed;
    if (const std::vector<int> cpus = allowedCpus(&allowed); cpus.size() >= 2) {
        // Where the scheduler wakes each server decides much of a round trip: a server woken
        // on the host's own CPU answers at once, one woken on another (idle) CPU pays for that
        // CPU's wake-up, and a server keeps whichever CPU it happened to land on. Pinned the
        // same way, both servers pay the same, and the ratio is what the simulator itself adds.
        const int half = std::max(1, polls / 2);
        for (const auto &[placement, serverCpu] :
             {std::pair<const char *, int>{"same_cpu", cpus[0]}, {"cross_cpu", cpus[1]}}) {
            pinTo(0, cpus[0]);
            pinTo(server.pid(), serverCpu);
            pinTo(sim.pid, serverCpu);
            roundTrips(echo, 200, 2); // settle on the new CPUs
            roundTrips(host, 200, 2);
            const SideBySide pinned = alternatingRounds(echo, host, sim, half, 10);
            pollsSoFar += 200 + half;
            const Stats e = stats(pinned.echoUs);
            const Stats s = stats(pinned.simUs);
            const std::string p = placement;
            figure("echo_" + p + "_rtt_p50_us", e.p50, "us");
            figure("echo_" + p + "_rtt_p99_us", e.p99, "us");
            figure("sim_" + p + "_rtt_p50_us", s.p50, "us");
            figure("sim_" + p + "_rtt_p99_us", s.p99, "us");
            figure("sim_" + p + "_cpu_per_poll_us", pinned.simCpuSeconds * 1e6 / half, "us");
            figure("sim_to_echo_" + p + "_p99_ratio", s.p99 / e.p99, "x");
        }
        for (const pid_t thread : {pid_t(0), server.pid(), sim.pid})
            ::sched_setaffinity(thread, sizeof allowed, &allowed);
    }
    ::close(echo);

    {
        // One host pipelining: every poll its own write, none waits for a reply; a second
        // thread counts the replies. Polls that arrive in one chunk are consumed together and
        // answered once (the machine's framing), so replies are fewer than polls.
        const int count = quick ? 20000 : 100000;
        std::atomic<long> replies{0};
        std::atomic<bool> sending{true};
        Clock::time_point lastReply = Clock::now();
        std::thread reader([&] {
            char buf[65536];
            for (;;) {
                pollfd p{host, POLLIN, 0};
                if (::poll(&p, 1, 300) <= 0) {
                    if (!sending)
                        return; // quiet for 300 ms after the last poll: all consumed
                    continue;
                }
                const ssize_t n = ::recv(host, buf, sizeof buf, 0);
                if (n <= 0)
                    return;
                replies += n / 2;
                lastReply = Clock::now();
            }
        });
        const auto t = Clock::now();
        for (int i = 0; i < count; ++i)
            sendAll(host, kPoll);
        sending = false;
        reader.join();
        pollsSoFar += count;
        const double secs = std::chrono::duration<double>(lastReply - t).count();
        figure("pipelined_polls_per_s", count / secs, "polls/s");
        figure("pipelined_replies_per_s", double(replies) / secs, "replies/s");
    }

    {
        // Memory after 100,000 polls in all (those above count), answered one by one.
        roundTrips(host, std::max(0, totalPolls - pollsSoFar), 2);
        const long rss = sim.statusKb("VmRSS:");
        figure("rss_after_100k_polls_kb", double(rss), "kB");
        figure("rss_growth_percent", 100.0 * double(rss - rssStart) / double(rssStart), "%");
    }

    // A clear sequence: the reset sound and two seconds of waiting while events are served.
    figure("cpu_reset_sequence_percent",
           cpuPercentDuring(sim,
                            [&] {
                                sim.control(R"({"cmd":"press","button":"clear"})");
                                waitIdle(sim, 10000);
                            }),
           "%");

    {
        // Polls every 5 ms with nothing else to do: each one wakes the simulator from its
        // wait, which costs more than polls back to back. The job's figures below compare
        // with these.
        const double c0 = sim.cpuSeconds();
        const auto t = Clock::now();
        const Stats s = stats(pollsDuring(host, quick ? 2.0 : 5.0, 5, '1'));
        figure("spaced_rtt_p50_us", s.p50, "us");
        figure("spaced_rtt_p99_us", s.p99, "us");
        figure("cpu_spaced_polls_percent", 100 * (sim.cpuSeconds() - c0) / secondsSince(t), "%");
    }

    {
        std::string reply;
        sendAll(host, formatMessage());
        if (!recvExactly(host, reply, 2))
            die("format not acknowledged");
        // A job nobody polls: 160 ms per strike, drawing and the sound, then a second of rest.
        const auto jobStart = Clock::now();
        figure("cpu_job_percent",
               cpuPercentDuring(sim,
                                [&] {
                                    startJob(host, jobGlyphs);
                                    waitIdle(sim, 120000);
                                }),
               "%");
        // A job that failed would end at once; one that ran takes its strikes and its rest.
        if (secondsSince(jobStart) < jobGlyphs * 0.16 + 1.0)
            die("the job ended early: the simulator did not strike it");
        // The same job again, polled every 5 ms: the host is answered between strikes.
        startJob(host, jobGlyphs);
        const double c0 = sim.cpuSeconds();
        const auto t = Clock::now();
        const std::vector<double> us = pollsDuring(host, jobGlyphs * 0.16 - 0.5, 5);
        const double cpu = 100 * (sim.cpuSeconds() - c0) / secondsSince(t);
        const Stats s = stats(us);
        figure("job_polls", double(us.size()), "polls");
        figure("job_rtt_p50_us", s.p50, "us");
        figure("job_rtt_p99_us", s.p99, "us");
        figure("job_rtt_max_us", s.max, "us");
        figure("cpu_job_polled_percent", cpu, "%");
        waitIdle(sim, 60000);
    }
    ::close(host);

    // 256 MiB goes beyond the receive buffer's limit (64 Mi characters): memory stays bounded.
    for (int mib : {16, 64, 256}) {
        if (quick && mib > 16)
            break;
        // A host streaming without any request, then one poll, on a fresh simulator.
        Simulator fresh(program, 1.0);
        int fd = connectTo(fresh.hostPort, 10000);
        std::string reply;
        sendAll(fd, kPoll);
        if (!recvExactly(fd, reply, 2))
            die("first poll of the stream run");
        const long before = fresh.statusKb("VmRSS:");
        std::string chunk(1 << 20, 'x');
        const auto t = Clock::now();
        for (int i = 0; i < mib; ++i)
            sendAll(fd, chunk);
        sendAll(fd, kPoll);
        if (!recvExactly(fd, reply, 2, 120000))
            die("poll after stream");
        const std::string prefix = "stream_" + std::to_string(mib) + "mib_";
        figure(prefix + "then_poll_s", secondsSince(t), "s");
        const long peak = fresh.statusKb("VmHWM:");
        figure(prefix + "peak_rss_kb", double(peak), "kB");
        figure(prefix + "peak_growth_kb_per_mib", double(peak - before) / mib, "kB/MiB");
        ::close(fd);
    }

    std::printf("{");
    bool first = true;
    for (const auto &[name, value] : g_figures) {
        std::printf("%s\"%s\": %.1f", first ? "" : ", ", name.c_str(), value);
        first = false;
    }
    std::printf("}\n");
    return 0;
}
