// Display mode under a virtual X server: a run with -display opens its
// windows one after the other, in the order and with the titles of the
// program's display points, each holding the run until it is closed; its
// window event thread keeps SIGINT, SIGTERM and SIGHUP blocked.
// Skipped where Xvfb or xdotool is missing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "program_run.h"

using namespace velmora_test;
using Clock = std::chrono::steady_clock;

namespace {

bool have_tool(const std::string& name) {
  return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

std::string capture(const std::string& cmd) {
  std::string out;
  if (std::FILE* f = ::popen(cmd.c_str(), "r")) {
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}

// Starts a process with its standard output and error sent to files (or
// /dev/null), optionally in folder dir and with DISPLAY set.
pid_t spawn(const std::vector<std::string>& args, const std::string& dir,
            const std::string& display, const std::string& out, const std::string& err) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(127);
  if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
  const int in = ::open("/dev/null", O_RDONLY);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || o < 0 || e < 0) ::_exit(127);
  ::dup2(in, 0);
  ::dup2(o, 1);
  ::dup2(e, 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// Ends a process started by spawn: SIGTERM, then SIGKILL after a second.
void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 20; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// A virtual X server on a free display number, stopped with the object.
class VirtualDisplay {
 public:
  // Starts Xvfb and asks it (up to 600 times, 100 ms apart) until it
  // answers; tries a second display number once if the first does not come
  // up. The bound is a count of attempts, so a slow machine gets more time.
  bool start(const std::string& log) {
    for (int attempt = 0, n = 90 + ::getpid() % 50; attempt < 2; ++n) {
      const std::string num = std::to_string(n);
      struct stat st;
      if (::stat(("/tmp/.X" + num + "-lock").c_str(), &st) == 0 ||
          ::stat(("/tmp/.X11-unix/X" + num).c_str(), &st) == 0)
        continue;
      ++attempt;
      name_ = ":" + num;
      // -noreset: the server would otherwise reset when its last client (the
      // readiness probe) leaves, refusing connections for a moment.
      pid_ = spawn({"Xvfb", name_, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"},
                   "", "", log, log);
      for (int probe = 0; probe < 600; ++probe) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
        if (std::system(("xdpyinfo -display " + name_ + " > /dev/null 2>&1").c_str()) == 0)
          return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      stop(pid_);
      pid_ = -1;
    }
    return false;
  }
  ~VirtualDisplay() { stop(pid_); }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// The blocked-signal mask (hexadecimal, the "SigBlk:" line) of a thread's
// /proc/<pid>/task/<tid>/status file; "" when the thread is gone.
std::string blocked_mask(const std::string& status_file) {
  std::ifstream in(status_file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("SigBlk:", 0) == 0) return line.substr(7);
  return "";
}

// Whether that mask holds signal sig.
bool blocks(const std::string& mask, int sig) {
  return (std::stoull(mask, nullptr, 16) >> (sig - 1)) & 1u;
}

}  // namespace

// Without an X display that opens, -display is refused before anything is
// read (the list file named does not exist): exit status 1, a message that
// names DISPLAY, nothing on standard output.
TEST(Display, RefusedWithoutAnXDisplay) {
  ScratchDir dir("no_display");
  // A display number without a server socket.
  int unused = 4000 + ::getpid() % 1000;
  struct stat st;
  while (::stat(("/tmp/.X11-unix/X" + std::to_string(unused)).c_str(), &st) == 0) ++unused;
  const std::string closed = ":" + std::to_string(unused);
  const struct {
    const char* what;
    std::vector<std::string> env;
    std::string message;
  } cases[] = {
      {"DISPLAY unset", {"env", "-u", "DISPLAY"},
       "Refused: -display shows windows on an X display, and DISPLAY is not set.\n"},
      {"DISPLAY empty", {"env", "DISPLAY="},
       "Refused: -display shows windows on an X display, and DISPLAY is not set.\n"},
      {"no server on the display", {"env", "DISPLAY=" + closed},
       "Refused: -display cannot open the X display \"" + closed + "\" that DISPLAY names.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = c.env;
    for (const std::string& a : {std::string(VELMORA_PROGRAM), std::string("-inPath"),
                                 dir / "missing.list", std::string("-display")})
      args.push_back(a);
    const RunResult r = run_command(dir.path().string(), args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
}

TEST(Display, WindowsOpenInOrderAndCloseOneByOne) {
  for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo"})
    if (!have_tool(tool))
      GTEST_SKIP() << tool << " is not installed (packages xvfb, xdotool, x11-utils)";

  ScratchDir dir("display");
  Grey a, b;
  a.width = b.width = 16;
  a.height = b.height = 16;
  for (int y = 0; y < 16; ++y)
    for (int xx = 0; xx < 16; ++xx) {
      a.v.push_back(100 + 40 * std::sin(0.5 * xx) * std::cos(0.4 * y));
      b.v.push_back(100 + 40 * std::sin(0.5 * (xx - 0.5)) * std::cos(0.4 * y));
    }
  write_pgm(dir / "a.pgm", a, 255);
  write_pgm(dir / "b.pgm", b, 255);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");

  // One run with -display, closing every window that appears, once, in
  // the order seen; gives up when 1200 polls in a row (100 ms apart, each
  // asking the server for the visible windows) saw no change: no new
  // window, none closed. The bound counts polls, so a slow machine gets
  // more time, and a run that goes on never reaches it.
  struct Outcome {
    bool exited = false;
    int status = -1;
    std::vector<std::string> titles;
    // Signal masks while the first window is open: the main thread's and
    // those of the other threads (the library's event thread).
    std::string mainMask;
    std::vector<std::string> otherMasks;
  };
  const auto run_closing_windows = [&](const VirtualDisplay& x) {
    Outcome o;
    const pid_t run = spawn({VELMORA_PROGRAM, "-inPath", dir / "list", "-dx", "16", "-dy", "16",
                             "-Dx", "16", "-Dy", "16", "-multiresol", "2", "-display"},
                            dir.path().string(), x.name(), dir / "stdout", dir / "stderr");
    if (run <= 0) return o;
    // Per window id: when it was first seen, and when Escape was last sent
    // (its title is read a moment after it appears, once the library has
    // set it).
    struct Seen {
      Clock::time_point first, sent;
      bool closing = false;
    };
    std::map<std::string, Seen> seen;
    const std::string xdo = "DISPLAY=" + x.name() + " xdotool ";
    std::string visible;
    for (int unchanged = 0; unchanged < 1200;) {
      if (::waitpid(run, &o.status, WNOHANG) == run) {
        o.exited = true;
        break;
      }
      const std::string now_visible = capture(xdo + "search --onlyvisible --name . 2> /dev/null");
      unchanged = now_visible == visible ? unchanged + 1 : 0;
      visible = now_visible;
      std::istringstream ids(now_visible);
      std::string id;
      while (ids >> id) {
        const auto now = Clock::now();
        auto it = seen.find(id);
        if (it == seen.end()) {
          seen[id].first = now;
          if (seen.size() == 1) {
            const std::string task = "/proc/" + std::to_string(run) + "/task/";
            for (const auto& t : fs::directory_iterator(task)) {
              const std::string mask = blocked_mask(t.path().string() + "/status");
              if (mask.empty()) continue;
              if (t.path().filename() == std::to_string(run))
                o.mainMask = mask;
              else
                o.otherMasks.push_back(mask);
            }
          }
          continue;
        }
        Seen& w = it->second;
        if (!w.closing) {
          if (now - w.first < std::chrono::milliseconds(300)) continue;
          std::string title = capture(xdo + "getwindowname " + id + " 2> /dev/null");
          while (!title.empty() && title.back() == '\n') title.pop_back();
          o.titles.push_back(title);
          w.closing = true;
        } else if (now - w.sent < std::chrono::seconds(2)) {
          continue;  // just asked to close; give it time
        }
        w.sent = now;
        std::system((xdo + "key --window " + id + " Escape > /dev/null 2>&1").c_str());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!o.exited) stop(run);
    return o;
  };
  // A fresh Xvfb refuses a connection now and then: a run that ends in
  // failure before any window opened is tried once more on a new server.
  Outcome o;
  for (int attempt = 0; attempt < 2; ++attempt) {
    VirtualDisplay x;
    ASSERT_TRUE(x.start(dir / "xvfb.log")) << "Xvfb did not answer: " << read_text(dir / "xvfb.log");
    o = run_closing_windows(x);
    const bool failedEarly = o.exited && o.titles.empty() &&
                             !(WIFEXITED(o.status) && WEXITSTATUS(o.status) == 0);
    if (!failedEarly) break;
    std::cerr << "display run failed before any window (attempt " << attempt + 1
              << "): " << read_text(dir / "stderr") << std::endl;
  }
  const bool exited = o.exited;
  const int status = o.status;
  const std::vector<std::string>& titles = o.titles;
  ASSERT_TRUE(exited) << "the run did not finish; windows seen: " << titles.size();
  ASSERT_TRUE(WIFEXITED(status)) << read_text(dir / "stderr");
  ASSERT_FALSE(titles.empty()) << read_text(dir / "stderr");
  EXPECT_EQ(WEXITSTATUS(status), 0) << read_text(dir / "stderr");

  // The library titles an untitled window "CImg<type> (WxHxDxC)".
  const auto untitled = [](const char* sizes) { return std::string("CImg<*> (") + sizes + ")"; };
  const auto matches = [](const std::string& title, const std::string& want) {
    const std::size_t star = want.find('*');
    if (star == std::string::npos) return title == want;
    const std::string head = want.substr(0, star), tail = want.substr(star + 1);
    return title.size() > head.size() + tail.size() && title.compare(0, head.size(), head) == 0 &&
           title.compare(title.size() - tail.size(), tail.size(), tail) == 0;
  };
  const std::vector<std::string> expected = {
      "image 1", "image 2",                          // padded inputs
      untitled("16x16x1x1"), untitled("16x16x1x1"),  // pyramid level 0
      untitled("8x8x1x1"), untitled("8x8x1x1"),      // pyramid level 1
      untitled("8x8x1x1"), untitled("8x8x2x1"),      // level 1 solve
      "U", "V", "obs", "reg",                        // level 1 end
      untitled("16x16x1x1"), untitled("16x16x2x1"),  // level 0 solve
      "U", "V", "obs", "reg",                        // level 0 end
      "UV"};                                         // the result
  ASSERT_EQ(titles.size(), expected.size()) << ::testing::PrintToString(titles);
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(matches(titles[i], expected[i]))
        << "window " << i << ": " << titles[i] << ", expected " << expected[i];
  EXPECT_TRUE(fs::exists(dir.path() / "UV_HS.motion"));
  EXPECT_NE(read_text(dir / "stdout").find(" ** End algorithm **"), std::string::npos);

  // SIGINT, SIGTERM and SIGHUP reach the main thread, where the handler
  // that removes an output's temporary file runs, never the event thread.
  ASSERT_FALSE(o.mainMask.empty());
  ASSERT_FALSE(o.otherMasks.empty()) << "no event thread seen";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_FALSE(blocks(o.mainMask, sig)) << "main thread blocks " << sig;
    for (const std::string& mask : o.otherMasks)
      EXPECT_TRUE(blocks(mask, sig)) << "a thread that takes " << sig << ": " << mask;
  }
}
