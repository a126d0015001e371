// The command-line program's system seam on POSIX: terminals through
// termios, interruptions through signals, text through iconv, files and
// folders by their UTF-8 paths.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sched.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "tools/pack_inputs.h"  // fileTimeOf
#include "platform/host/host_files.h"
#include "tools/system.h"

static uint32_t lastError;

static bool fail() {
  lastError = errno ? (uint32_t)errno : (uint32_t)EIO;
  return false;
}

// ---- the process ----

void sysStartProcess(int* argc, char*** argv) {}

bool sysEnvironment(const char* name, std::string* value) {
  const char* v = getenv(name);
  if (!v) return false;
  *value = v;
  return true;
}

uint32_t sysLastError() { return lastError; }

std::string sysErrorText(uint32_t code) { return strerror((int)code); }

// ---- terminal ----

bool sysIsTerminal(int stream) { return isatty(stream); }

size_t sysTerminalColumns() {
  struct winsize ws;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

double sysSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

int sysProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? (int)n : 1;
}

static volatile sig_atomic_t interrupted;

// Reads up to a line end from `fd`; false at the end with nothing read or
// when a signal interrupts the wait.
static bool readLineFrom(int fd, std::string* line, bool stopAtInterrupt) {
  line->clear();
  for (;;) {
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) {
      if (stopAtInterrupt && interrupted) return false;
      continue;
    }
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    *line += c;
  }
}

// Turns echo off (the line end still shown) for the length of a read.
static bool echoOff(int fd, struct termios* saved) {
  if (tcgetattr(fd, saved) != 0) return false;
  struct termios quiet = *saved;
  quiet.c_lflag &= ~(tcflag_t)ECHO;
  quiet.c_lflag |= ECHONL;
  tcsetattr(fd, TCSAFLUSH, &quiet);
  return true;
}

bool sysReadLine(const std::string& prompt, bool hidden, std::string* line) {
  struct termios saved;
  const bool restore = hidden && echoOff(STDIN_FILENO, &saved);
  fputs(prompt.c_str(), stderr);
  fflush(stderr);
  const bool got = readLineFrom(STDIN_FILENO, line, true);
  if (restore) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  return got;
}

bool sysAskOnTerminal(const std::string& prompt, std::string* line, bool* noTerminal) {
  *noTerminal = false;
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) {
    *noTerminal = true;
    return false;
  }
  struct termios saved;
  const bool restore = echoOff(tty, &saved);
  ssize_t ignored = write(tty, prompt.data(), prompt.size());
  (void)ignored;
  line->clear();
  bool ok = false;
  for (;;) {
    char c;
    ssize_t n = read(tty, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      ok = true;
      break;
    }
    line->push_back(c);
  }
  if (restore) tcsetattr(tty, TCSAFLUSH, &saved);
  close(tty);
  return ok;
}

// ---- interruptions ----

static void (*interruptCallback)(int);

static void onSignal(int signal) {
  interrupted = 1;
  if (interruptCallback) interruptCallback(signal);
}

void sysCatchInterrupts(void (*onInterrupt)(int signal)) {
  interruptCallback = onInterrupt;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a read waiting for input returns at once
  sigaction(SIGINT, &sa, 0);
  sigaction(SIGTERM, &sa, 0);
  sigaction(SIGHUP, &sa, 0);
}

// ---- text ----

static std::string terminalCode = "UTF-8";

void sysInitTerminalText(bool japanese) {
  setlocale(LC_ALL, "");
  const char* code = nl_langinfo(CODESET);
  // The "C" locale names plain ASCII; terminals today take UTF-8 there, and
  // escaping every Japanese name would help nobody.
  if (!code || !*code || !strcmp(code, "ANSI_X3.4-1968") || !strcmp(code, "ASCII") || !strcmp(code, "US-ASCII"))
    terminalCode = "UTF-8";
  else
    terminalCode = code;
}

bool sysTerminalIsUtf8() {
  return !strcasecmp(terminalCode.c_str(), "UTF-8") || !strcasecmp(terminalCode.c_str(), "UTF8");
}

bool sysUserLanguageIsJapanese() { return false; }

static const char* codeName(SysTextCode code) {
  switch (code) {
    case TextCp932: return "CP932";
    case TextUtf8: return "UTF-8";
    default: return terminalCode.c_str();
  }
}

// One converter per direction, opened once: names and comments are
// converted a character at a time.
static iconv_t converters[3][3][2];
static bool convertersReady;

static iconv_t converter(SysTextCode from, SysTextCode to, bool approximate) {
  if (!convertersReady) {
    for (auto& a : converters)
      for (auto& b : a)
        for (auto& c : b) c = (iconv_t)-1;
    convertersReady = true;
  }
  iconv_t& cd = converters[from][to][approximate];
  if (cd == (iconv_t)-1) {
    std::string target = codeName(to);
    if (approximate) target += "//TRANSLIT";
    cd = iconv_open(target.c_str(), codeName(from));
  }
  return cd;
}

bool sysConvertText(SysTextCode from, SysTextCode to, const char* bytes, size_t count, std::string* out,
                    bool approximate) {
  iconv_t cd = converter(from, to, approximate);
  if (cd == (iconv_t)-1) return false;
  iconv(cd, 0, 0, 0, 0);
  std::string buffer(count * 4 + 16, '\0');
  char* ip = const_cast<char*>(bytes);
  size_t inLeft = count;
  char* op = buffer.data();
  size_t outLeft = buffer.size();
  const size_t r = iconv(cd, &ip, &inLeft, &op, &outLeft);
  if (r == (size_t)-1 || inLeft != 0 || iconv(cd, 0, 0, &op, &outLeft) == (size_t)-1) {
    iconv(cd, 0, 0, 0, 0);
    return false;
  }
  buffer.resize(buffer.size() - outLeft);
  *out = buffer;
  return true;
}

bool sysLocalTime(uint64_t filetime, SysLocalTime* out) {
  // FILETIME counts 100 ns from 1601-01-01; POSIX times count from 1970.
  const time_t t = (time_t)((int64_t)(filetime / 10000000u) - 11644473600LL);
  struct tm tm;
  if (!localtime_r(&t, &tm)) return false;
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->offsetSeconds = tm.tm_gmtoff;
  return true;
}

// ---- files and folders ----

bool sysFileInfo(const std::string& path, SysFileInfo* info) {
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return fail();
  info->folder = S_ISDIR(sx.stx_mode);
  info->regular = S_ISREG(sx.stx_mode);
  info->size = sx.stx_size;
  info->lastWrite = fileTimeOf(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  info->lastAccess = fileTimeOf(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  // The creation time where the file system keeps one, else the last write.
  info->creation = (sx.stx_mask & STATX_BTIME) ? fileTimeOf(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : info->lastWrite;
  info->volume = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  info->index = sx.stx_ino;
  return true;
}

bool sysCanRead(const std::string& path) { return access(path.c_str(), R_OK) == 0 || fail(); }

bool sysListFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  DIR* d = opendir(path.c_str());
  if (!d) return fail();
  errno = 0;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names->push_back(e->d_name);
    errno = 0;
  }
  const int readError = errno;
  closedir(d);
  if (readError) {
    errno = readError;
    return fail();
  }
  return true;
}

std::string sysStoredName(const std::string& arg) {
  std::string p = arg;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::string base = p.substr(p.rfind('/') == std::string::npos ? 0 : p.rfind('/') + 1);
  if (base == "." || base == ".." || base.empty() || base == "/") {
    char* real = realpath(p.c_str(), 0);
    if (!real) return "";
    std::string r = real;
    free(real);
    base = r.substr(r.rfind('/') + 1);
  }
  return base;
}

bool sysReadWholeFile(const std::string& path, std::string* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return fail();
  out->clear();
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  const bool ok = !ferror(f);
  if (!ok) fail();
  fclose(f);
  return ok;
}

int sysOpenInput(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // not ours: atime may move
  if (fd < 0) fail();
  return fd;
}

bool sysOpenArchive(const std::string& path, FileHandle* handle, uint64_t* size, bool* regular) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail();
  struct stat st;
  *regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  *size = *regular ? (uint64_t)st.st_size : 0;
  *handle = (FileHandle)fd;
  return true;
}

bool sysMakeFolders(const std::string& dir) {
  for (size_t at = 1; at <= dir.size(); ++at) {
    if (at < dir.size() && dir[at] != '/') continue;
    const std::string part = dir.substr(0, at);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return fail();
      }
      continue;
    }
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return fail();
  }
  return true;
}

bool sysEnterFolder(const std::string& path) { return chdir(path.c_str()) == 0 || fail(); }

void sysRemoveLinkAt(const char* name) {
  std::string host;
  if (!hostPath(name, &host)) return;
  struct stat st;
  if (lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(host.c_str());
}

FileHandle sysStandardOutputHandle() {
  const int fd = dup(STDOUT_FILENO);
  if (fd < 0) fail();
  return fd < 0 ? kNoFile : (FileHandle)fd;
}

// ---- one run apart ----

// Everything a child writes to `fd` until it closes it.
static std::string drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, (size_t)n);
  }
  return text;
}

int sysRunApart(int (*one)(const char* archive), const char* archive, bool capture, std::string* output) {
  int ends[2] = {-1, -1};
  if (capture && pipe(ends) != 0) return fail(), kApartNotStarted;
  const pid_t pid = fork();
  if (pid < 0) {
    fail();
    if (capture) close(ends[0]), close(ends[1]);
    return kApartNotStarted;
  }
  if (pid == 0) {
    if (capture) {
      close(ends[0]);
      dup2(ends[1], STDOUT_FILENO);
      close(ends[1]);
    }
    const int code = one(archive);
    fflush(stdout);
    exit(code);
  }
  if (capture) {
    close(ends[1]);
    *output = drain(ends[0]);
    close(ends[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return fail(), kApartCrashed;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  const int signal = WTERMSIG(status);
  return signal == SIGINT || signal == SIGTERM || signal == SIGHUP ? kApartInterrupted : kApartCrashed;
}

const char* sysArchiveApart() { return 0; }

// ---- pack's output file ----

// The temporary output, removed by the signal handler when interrupted.
static char tempPath[PATH_MAX + 64];
static volatile sig_atomic_t tempActive;
static const char* outputNote;
static int outputInterruptCode;

static void onOutputSignal(int) {
  if (tempActive) unlink(tempPath);
  ssize_t ignored = write(STDERR_FILENO, outputNote, strlen(outputNote));
  (void)ignored;
  _exit(outputInterruptCode);
}

static void setOutputSignals(void (*handler)(int)) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &sa, 0);
}

// Blocks the interrupting signals while the temporary file comes and goes,
// so that the handler always knows whether it exists.
static void blockSignals(bool block, sigset_t* previous) {
  if (!block) {
    sigprocmask(SIG_SETMASK, previous, 0);
    return;
  }
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, previous);
}

bool sysBeginOutput(const std::string& path, const char* interruptNote, int interruptCode, int* fd) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string temp = dir + "." + base + ".XXXXXX";
  if (temp.size() >= sizeof tempPath) {
    errno = ENAMETOOLONG;
    return fail();
  }
  outputNote = interruptNote;
  outputInterruptCode = interruptCode;
  setOutputSignals(onOutputSignal);
  sigset_t previous;
  blockSignals(true, &previous);
  strcpy(tempPath, temp.c_str());
  *fd = mkstemp(tempPath);
  if (*fd >= 0) tempActive = 1;
  else fail();
  blockSignals(false, &previous);
  return *fd >= 0;
}

bool sysFinishOutput(int fd, const std::string& path) {
  bool ok = fsync(fd) == 0 || fail();
  if (ok) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  if (close(fd) != 0 && ok) ok = fail();
  sigset_t previous;
  blockSignals(true, &previous);
  if (ok && rename(tempPath, path.c_str()) != 0) ok = fail();
  if (!ok) unlink(tempPath);
  tempActive = 0;
  setOutputSignals(SIG_DFL);
  blockSignals(false, &previous);
  return ok;
}

void sysDiscardOutput(int fd) {
  close(fd);
  sigset_t previous;
  blockSignals(true, &previous);
  unlink(tempPath);
  tempActive = 0;
  setOutputSignals(SIG_DFL);
  blockSignals(false, &previous);
}
