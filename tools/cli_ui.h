// The terminal side of the seam for the list, test and extract commands:
// the core's message boxes become messages on stderr and exit codes, the
// overwrite question becomes a policy or a prompt, the status line and the
// decoder's pump drive a progress line, and Ctrl-C sets the cancel flag.
#pragma once
#include <signal.h>
#include <stdint.h>

#include <string>

// Exit codes of list, test and extract (the stub's own codes differ).
enum CliExit {
  ExitOk = 0,
  ExitUsage = 1,              // bad command line
  ExitDamaged = 2,            // damaged, cut short, or not an archive at all
  ExitPassword = 3,           // wrong password, or none could be had
  ExitIo = 4,                 // a file or folder could not be read, written or made
  ExitOverwriteRefused = 5,   // an existing file stopped the extraction
  ExitInterrupted = 6,        // Ctrl-C (or SIGTERM/SIGHUP)
};

enum CliMode : uint8_t { ModeList, ModeTest, ModeExtract };
enum CliPhase : uint8_t { PhaseOpen, PhaseHeader, PhaseRecord, PhaseData, PhaseDone };
// Refuse: no one to ask; the first existing file stops the run.
enum OverwritePolicy : uint8_t { OverwriteAsk, OverwriteAll, OverwriteNone, OverwriteRefuse };

struct CliState {
  CliMode mode;
  bool quiet;
  bool interactive;  // stdin is a terminal: questions can be asked
  bool progress;     // stderr is a terminal and not quiet
  OverwritePolicy overwrite;
  CliPhase phase;
  int exitCode;  // decided by the last fatal message, used by pfExitProcess

  bool toStdout;             // extract -c: files go to standard output
  std::string archiveShown;  // the archive's name as given, for messages
  std::string outputShown;   // the -o folder as given ("" = current folder)

  // What the extraction driver named last (display form) and whether the
  // file is being written.
  std::string currentShown;
  std::string currentCp932;  // the entry name as stored
  bool writing;

  // A fatal message of the core, printed at the process's end with what
  // became of the file that was being written (its full path as the core
  // names it).
  std::string fatalText;
  bool fatalPartial;
  std::string partialCp932;

  uint32_t filesExtracted, filesSkipped;
  bool stoppedAtExisting;   // the run ended at an existing file
  std::string stoppedPath;  // which one

  // Progress.
  uint64_t streamDataBytes;  // data bytes of the block stream (for the percentage)
  uint64_t bytesDone;        // bytes of files finished
  uint32_t filesDone;
  double startTime, lastDraw;
  bool lineShown;
};

extern CliState cli;
extern volatile sig_atomic_t interruptSignal;  // the signal that interrupted, 0 none

// Sets up the state of one command (locale, terminals, signals).
void cliBegin(CliMode mode, bool quiet);
// Prints "vellicor: " + text + newline on stderr (the progress line cleared).
void cliError(const std::string& utf8);
// The same for notes that -q silences.
void cliNote(const std::string& utf8);
// Prints an error and ends the process with `code`.
[[noreturn]] void cliFail(int code, const std::string& utf8);
// The entry name (code page 932, as stored) in the form messages show it:
// "/" separators, below the -o folder when one was given.
std::string shownEntry(const char* cp932, uint32_t length);

// Progress line on stderr (a terminal only, not with -q): the share of the
// block stream read, files and bytes done, the rate and the current name.
// progressStart names the file about to be decoded and the bytes it has
// beyond what the decoder produces (its shared prefix); progressTick
// redraws at most ten times a second; progressClear removes the line.
void progressStart(const std::string& shownName, uint64_t extraBytes);
void progressTick();
void progressClear();
double nowSeconds();

// Reads one line of an answer from stdin. Returns false at the end of the
// input or when Ctrl-C interrupts the wait.
bool readAnswerLine(std::string* line);
