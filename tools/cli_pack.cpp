// vellicor pack: makes a self-extracting file from files and folders.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "encode/archive_writer.h"
#include "encode/pack_run.h"
#include "encode/stub_icon.h"
#include "tools/cli_commands.h"
#include "tools/embedded_stub.h"
#include "tools/pack_inputs.h"
#include "tools/pack_system.h"
#include "tools/system.h"

namespace {

// Exit codes, the same numbers as the reading commands use.
const int kExitUsage = 1;   // bad command line, or an input the format cannot hold
const int kExitIo = 4;      // an input could not be read or the output not written
const int kExitInterrupted = 6;

const char kHelp[] =
    "usage: vellicor pack [options] -o OUT.exe INPUT...\n"
    "       vellicor pack [options] -o OUT.exe --files-from LIST [INPUT...]\n"
    "\n"
    "Makes a self-extracting file for Windows from the INPUT files and folders.\n"
    "A folder is stored under its own name with everything below it; a file\n"
    "under its base name. Names are stored in code page 932 (Shift-JIS).\n"
    "Symbolic links are followed. Same input, same output bytes.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE      the self-extracting file to write (replaced if it exists)\n"
    "  --comment TEXT         comment shown in the extraction dialog\n"
    "  --comment-file FILE    the comment from a UTF-8 text file\n"
    "  --launch NAME          file to open after extraction (relative to the\n"
    "                         extraction folder)\n"
    "  --password             ask for a password before extraction (not\n"
    "                         encryption, see below), taken from --password-file,\n"
    "                         else from VELLICOR_PASSWORD, else asked for twice\n"
    "  --password-file FILE   the password is the first line of FILE (implies\n"
    "                         --password)\n"
    "  --mask                 the dialog shows '*' for each typed password character\n"
    "  --stub FILE            use another 26,112-byte stub (the archive then opens\n"
    "                         only with that stub)\n"
    "  --icon FILE.ico        the archive's own icon in place of the stub's: the\n"
    "                         file's 32 x 32 image (1, 4, 8, 24 or 32 bits, BMP\n"
    "                         form), reduced to the stub's palette\n"
    "  --level N              1 (fastest) to 5 (smallest); default 4\n"
    "  -j, --threads N        files coded on N threads at once (default: the\n"
    "                         processors this process may use); the output is\n"
    "                         the same for every N\n"
    "  --exclude PATTERN      leave out what PATTERN matches below each INPUT folder\n"
    "                         and among the listed paths (repeatable; see below)\n"
    "  --files-from LIST      also store the paths listed in the file LIST ('-':\n"
    "                         standard input), one a line, after the INPUTs and in\n"
    "                         the list's order; each under its path as written\n"
    "                         (relative, no '..'), a folder without its contents.\n"
    "                         Blank lines are skipped\n"
    "  --null                 the paths of LIST are separated by NUL bytes, as\n"
    "                         find -print0 writes them\n"
    "  -q, --quiet            no progress and no summary\n"
    "  -h, --help             this text\n"
    "\n"
    "Exclusion patterns are matched against the path below each INPUT folder\n"
    "('docs/a.txt' for site/docs/a.txt when site is the INPUT) and against each\n"
    "listed path, with '/' between folders. '*', '?' and '[a-z]' match within one\n"
    "name ('*' never takes a '/'); '**' as a whole name matches any number of\n"
    "folders, none included; '\\' takes the next character as itself. A pattern\n"
    "without '/' matches a name at any depth ('.git', '*.o'); one with '/' inside or\n"
    "at its start is anchored at the INPUT ('docs/*.tmp', '/build'); a '/' at its\n"
    "end matches folders only. A folder left out is left out with everything\n"
    "below it, unread. INPUTs named on the command line are never excluded; an\n"
    "INPUT folder left empty by exclusions is stored empty, with a warning.\n"
    "\n"
    "Exit codes: 0 done; 1 a wrong command line, or an input the format cannot\n"
    "hold (a name, a size, two inputs of one name, the output as an input);\n"
    "4 an input could not be read or the output not written; 6 interrupted.\n"
    "After any error no output file is left behind (an earlier one stays as it was).\n"
    "\n"
    "What the password does: the archive cannot be extracted by someone who\n"
    "does not know it, and the stored bytes are masked. It is not encryption:\n"
    "the mask is the password's bytes repeated over the data, and a 16-bit\n"
    "check value of it is stored, so anyone holding the file can undo both\n"
    "with modest effort. Where secrecy matters, encrypt the whole file with a\n"
    "real encryption tool (gpg --symmetric, for example) as well.\n";

bool quiet = false;
const int kMaxThreads = 256;

bool progressShown = false;

void clearProgress() {
  if (progressShown) fprintf(stderr, "\r\033[K");
  progressShown = false;
}

void error(const std::string& text) {
  clearProgress();
  fprintf(stderr, "vellicor pack: %s\n", text.c_str());
}

void warn(const std::string& text) {
  if (quiet) return;
  clearProgress();
  fprintf(stderr, "vellicor pack: warning: %s\n", text.c_str());
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The password in code page 932, from the file, the environment or the terminal.
bool takePassword(const std::string& file, std::string* cp932) {
  std::string utf8;
  if (!file.empty()) {
    std::string text;
    if (!sysReadWholeFile(file, &text)) {
      error("cannot read the password file " + file + ": " + sysErrorText(sysLastError()));
      return false;
    }
    utf8 = firstLine(text);
  } else if (sysEnvironment("VELLICOR_PASSWORD", &utf8)) {
  } else {
    std::string again;
    bool noTerminal = false;
    bool ok = sysAskOnTerminal("Password: ", &utf8, &noTerminal) &&
              sysAskOnTerminal("Password again: ", &again, &noTerminal);
    if (noTerminal) {
      error("no terminal to ask for the password; use --password-file FILE or VELLICOR_PASSWORD");
      return false;
    }
    if (!ok) {
      error("no password was entered");
      return false;
    }
    if (utf8 != again) {
      error("the two passwords differ");
      return false;
    }
  }
  if (utf8.empty()) {
    error("the password is empty; an empty password cannot protect an archive");
    return false;
  }
  if (!utf8ToCp932(utf8, cp932)) {
    error("the password has characters that cannot be typed in code page 932");
    return false;
  }
  return true;
}

double now() { return sysSeconds(); }

std::string mib(uint64_t bytes) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  return buf;
}

struct Progress {
  bool enabled;
  double last;
};

void drawProgress(void* context, const PackProgress& p) {
  Progress* shown = (Progress*)context;
  if (!shown->enabled) return;
  const double t = now();
  if (t - shown->last < 0.1) return;
  shown->last = t;
  const double pct = p.totalBytes ? 100.0 * (double)p.codedBytes / (double)p.totalBytes : 100.0;
  fprintf(stderr, "\r\033[Kpacking %5.1f%%  %zu/%zu files  %s -> %s", pct, p.doneFiles, p.totalFiles,
          mib(p.codedBytes).c_str(), mib(p.archiveBytes).c_str());
  fflush(stderr);
  progressShown = true;
}

struct Options {
  std::string output, comment, commentFile, launch, passwordFile, stubFile, iconFile;
  bool haveComment = false, password = false, mask = false;
  int level = kDefaultLevel;
  int threads = 0;  // 0: the processors this process may use
  std::vector<std::string> inputs;
  std::vector<std::string> listFiles;  // --files-from
  bool nulSeparated = false;
  PackSelection selection;
};

// Parses the command line; returns -1 to go on, else an exit code.
int parseOptions(int argc, char** argv, Options* o) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
      o->inputs.push_back(a);
      continue;
    }
    if (a == "--") {
      endOfOptions = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    if (a.compare(0, 2, "--") == 0 && a.find('=') != std::string::npos) {
      value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
      inlineValue = true;
    }
    auto takeValue = [&](std::string* into) -> bool {
      if (inlineValue) {
        *into = value;
        return true;
      }
      if (i + 1 >= argc) {
        error(a + " needs a value");
        return false;
      }
      *into = argv[++i];
      return true;
    };
    if (a == "-h" || a == "--help") {
      fputs(kHelp, stdout);
      return 0;
    } else if (a == "-o" || a == "--output") {
      if (!takeValue(&o->output)) return kExitUsage;
    } else if (a == "--comment") {
      if (!takeValue(&o->comment)) return kExitUsage;
      o->haveComment = true;
    } else if (a == "--comment-file") {
      if (!takeValue(&o->commentFile)) return kExitUsage;
    } else if (a == "--launch") {
      if (!takeValue(&o->launch)) return kExitUsage;
    } else if (a == "--password") {
      o->password = true;
    } else if (a == "--password-file") {
      if (!takeValue(&o->passwordFile)) return kExitUsage;
      o->password = true;
    } else if (a == "--mask") {
      o->mask = true;
    } else if (a == "--stub") {
      if (!takeValue(&o->stubFile)) return kExitUsage;
    } else if (a == "--icon") {
      if (!takeValue(&o->iconFile)) return kExitUsage;
    } else if (a == "--level") {
      std::string v;
      if (!takeValue(&v)) return kExitUsage;
      char* end = 0;
      long level = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || level < kMinLevel || level > kMaxLevel) {
        error("--level takes a number from 1 to 5");
        return kExitUsage;
      }
      o->level = (int)level;
    } else if (a == "-j" || a == "--threads" || (a.size() > 2 && a.compare(0, 2, "-j") == 0)) {
      std::string v = a.size() > 2 && a[1] == 'j' ? a.substr(2) : "";
      if (v.empty() && !takeValue(&v)) return kExitUsage;
      char* end = 0;
      long n = strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || n < 1 || n > kMaxThreads) {
        error("-j takes a number of threads from 1 to 256");
        return kExitUsage;
      }
      o->threads = (int)n;
    } else if (a == "--exclude") {
      std::string pattern, why;
      if (!takeValue(&pattern)) return kExitUsage;
      if (!addExcludePattern(&o->selection, pattern, &why)) {
        error(why);
        return kExitUsage;
      }
    } else if (a == "--files-from") {
      std::string list;
      if (!takeValue(&list)) return kExitUsage;
      o->listFiles.push_back(list);
    } else if (a == "--null") {
      o->nulSeparated = true;
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else {
      error("unknown option " + a + " (see vellicor pack --help)");
      return kExitUsage;
    }
  }
  if (o->output.empty()) {
    error("no output named: give -o OUT.exe (see vellicor pack --help)");
    return kExitUsage;
  }
  if (o->inputs.empty() && o->listFiles.empty()) {
    error("nothing to pack: give one or more files or folders");
    return kExitUsage;
  }
  if (o->nulSeparated && o->listFiles.empty()) {
    error("--null describes the list of --files-from; give --files-from LIST");
    return kExitUsage;
  }
  if (o->haveComment && !o->commentFile.empty()) {
    error("give either --comment or --comment-file, not both");
    return kExitUsage;
  }
  if (o->mask && !o->password) {
    error("--mask needs --password");
    return kExitUsage;
  }
  return -1;
}

}  // namespace

int cliPack(int argc, char** argv) {
  quiet = false;
  Options o;
  int code = parseOptions(argc, argv, &o);
  if (code >= 0) return code;

  // The stub: exactly 26,112 bytes.
  std::string stubBytes;
  if (!o.stubFile.empty()) {
    if (!sysReadWholeFile(o.stubFile, &stubBytes)) {
      error("cannot read the stub " + o.stubFile + ": " + sysErrorText(sysLastError()));
      return kExitIo;
    }
  } else {
    uint32_t n = 0;
    const uint8_t* p = embeddedStub(&n);
    stubBytes.assign((const char*)p, n);
  }
  if (stubBytes.size() != kArchiveStubSize) {
    error("the stub " + (o.stubFile.empty() ? std::string("built into this program") : o.stubFile) + " has " +
          std::to_string(stubBytes.size()) + " bytes, not 26,112");
    return kExitUsage;
  }

  // The user's icon goes into the stub before anything is coded: the stub's
  // first bytes are the first file's context.
  if (!o.iconFile.empty()) {
    std::string ico, why;
    if (!sysReadWholeFile(o.iconFile, &ico)) {
      error("cannot read the icon " + o.iconFile + ": " + sysErrorText(sysLastError()));
      return kExitIo;
    }
    if (!replaceStubIcon(&stubBytes, ico, &why)) {
      error("cannot use the icon " + o.iconFile + ": " + why);
      return kExitUsage;
    }
  }

  ArchiveSettings settings;
  settings.stub = (const uint8_t*)stubBytes.data();
  settings.level = o.level;
  settings.threads = o.threads ? o.threads : std::min(sysProcessorCount(), kMaxThreads);
  std::string why;
  if (o.haveComment && !commentToCp932(o.comment, &settings.comment, &why)) {
    error(why);
    return kExitUsage;
  }
  if (!o.commentFile.empty()) {
    std::string text;
    if (!sysReadWholeFile(o.commentFile, &text)) {
      error("cannot read the comment file " + o.commentFile + ": " + sysErrorText(sysLastError()));
      return kExitIo;
    }
    if (!commentToCp932(text, &settings.comment, &why)) {
      error(o.commentFile + ": " + why);
      return kExitUsage;
    }
  }
  if (!o.launch.empty()) {
    if (!utf8ToCp932(o.launch, &settings.launchFile)) {
      error("the launch name " + o.launch + " has no code page 932 form");
      return kExitUsage;
    }
    for (auto& c : settings.launchFile)
      if (c == '/') c = '\\';
  }

  // What to store. The output itself is left out when it lies inside an input.
  SysFileInfo outInfo;
  uint64_t skipDev = ~0ull, skipIno = ~0ull;
  if (sysFileInfo(o.output, &outInfo)) {
    if (outInfo.folder) {
      error(o.output + " is a folder; -o names the file to write");
      return kExitUsage;
    }
    skipDev = outInfo.volume;
    skipIno = outInfo.index;
  }
  for (const std::string& list : o.listFiles) {
    if (!readPathList(list, o.nulSeparated, &o.selection.listed, &why)) {
      error(why);
      return why.compare(0, 7, "cannot ") == 0 ? kExitIo : kExitUsage;
    }
  }
  CollectResult inputs;
  collectInputs(o.inputs, skipDev, skipIno, &inputs, &o.selection);
  for (const std::string& w : inputs.warnings) warn(w);
  if (!inputs.error.empty()) {
    error(inputs.error);
    return inputs.error.compare(0, 7, "cannot ") == 0 ? kExitIo : kExitUsage;
  }
  if (inputs.items.empty()) {
    error(o.selection.listed.empty() ? "nothing to pack: the lists of --files-from name no paths"
                                     : "nothing to pack: --exclude left out every listed path");
    return kExitUsage;
  }
  if (!settings.launchFile.empty()) {
    bool found = false;
    for (const PackInput& in : inputs.items) found = found || (!in.folder && in.name == settings.launchFile);
    if (!found && settings.launchFile.find(':') == std::string::npos)
      warn("the launch file " + o.launch + " is not one of the stored files");
  }

  if (o.password) {
    if (!takePassword(o.passwordFile, &settings.password)) return kExitUsage;
    settings.passwordFlags = o.mask ? 1 : 2;
  }

  // Write beside the output and rename at the end: a failed or interrupted
  // run leaves no partial output behind.
  int fd = -1;
  if (!sysBeginOutput(o.output, "\nvellicor: interrupted; no output was written\n", kExitInterrupted, &fd)) {
    error("cannot create a file beside " + o.output + ": " + sysErrorText(sysLastError()));
    return kExitIo;
  }

  Progress progress = {};
  progress.enabled = !quiet && sysIsTerminal(2);
  PackRun run;
  run.inputs = &inputs.items;
  run.settings = settings;
  run.fd = fd;
  run.openInput = packOpenInput;
  run.progress = drawProgress;
  run.progressContext = &progress;
  const double start = now();
  PackRunResult result;
  bool ok = runPack(run, &result);
  code = 0;
  if (!ok) {
    switch (result.failure) {
      case PackNoMemory:
        error("not enough memory");
        break;
      case PackCannotOpen:
        error("cannot read " + result.input + ": " + sysErrorText(result.systemError));
        break;
      case PackCannotStore:
        error("cannot store " + result.input + ": " + result.detail);
        break;
      case PackTooLarge:
        error("the self-extracting file would pass 2,147,483,647 bytes, the largest the stub can check; store less");
        code = kExitUsage;
        break;
      default:  // PackCannotWrite; a cancel flag is never set here
        error("cannot write " + o.output + ": " + strerror(result.systemError ? (int)result.systemError : EIO));
        break;
    }
    if (!code) code = kExitIo;
  }
  const uint64_t total = result.totalSize;
  const ArchiveStats stats = result.stats;
  if (!ok) {
    sysDiscardOutput(fd);
  } else if (!sysFinishOutput(fd, o.output)) {
    error("cannot write " + o.output + ": " + sysErrorText(sysLastError()));
    ok = false;
    code = kExitIo;
  }
  clearProgress();
  if (!ok) return code;

  if (!quiet) {
    const double seconds = now() - start;
    char line[512];
    snprintf(line, sizeof line, "%s: %llu file%s, %llu folder%s, %llu bytes -> %llu bytes (%.1f%%) in %.1f s",
             o.output.c_str(), (unsigned long long)stats.files, stats.files == 1 ? "" : "s",
             (unsigned long long)stats.folders, stats.folders == 1 ? "" : "s", (unsigned long long)stats.inputBytes,
             (unsigned long long)total, stats.inputBytes ? 100.0 * (double)total / (double)stats.inputBytes : 0.0,
             seconds);
    fprintf(stderr, "%s\n", line);
  }
  return 0;
}
