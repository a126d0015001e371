#include "tools/cli_ui.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/app_state.h"
#include "archive/entries.h"
#include "decode/decoder.h"
#include "fileio/block_file.h"
#include "fs/paths.h"
#include "platform/platform.h"
#include "tools/cli_text.h"
#include "tools/system.h"

CliState cli;
volatile sig_atomic_t interruptSignal;

static std::string progressName;
static uint64_t progressExtra;
static bool decodingFile;  // extract: a file's data is being (or was last) decoded

// ---- signals ----

// Only plain stores: the decoder sees the flag before its next symbol and
// the driver removes the file it was writing.
static void onInterrupt(int signal) {
  app.cancelFlag = 1;
  interruptSignal = signal;
}

void cliBegin(CliMode mode, bool quiet) {
  cliInitLocale();
  cli.mode = mode;
  cli.quiet = quiet;
  cli.interactive = sysIsTerminal(0);
  cli.progress = !quiet && sysIsTerminal(2);
  cli.overwrite = cli.interactive ? OverwriteAsk : OverwriteRefuse;
  cli.phase = PhaseOpen;
  cli.exitCode = 0;
  cli.startTime = nowSeconds();
  cli.lastDraw = 0;
  sysCatchInterrupts(onInterrupt);
}

// ---- messages ----

void cliError(const std::string& utf8) {
  progressClear();
  fflush(stdout);
  fprintf(stderr, "vellicor: %s\n", showText(utf8).c_str());
}

void cliNote(const std::string& utf8) {
  if (cli.quiet) return;
  progressClear();
  fflush(stdout);
  fprintf(stderr, "%s\n", showText(utf8).c_str());
}

void cliFail(int code, const std::string& utf8) {
  cliError(utf8);
  exit(code);
}

static std::string quoted(const std::string& s) { return tr("\"", "「") + s + tr("\"", "」"); }

std::string shownEntry(const char* cp932, uint32_t length) { return showCp932(cp932, length, true); }

// A full path of the driver (".\" + entry name) as the user knows it: below
// the -o folder when one was given.
static std::string shownPath(const char* fullPath) {
  const char* p = fullPath;
  if (p[0] == '.' && p[1] == '\\') p += 2;
  std::string rel = showCp932(p, strlen(p), true);
  if (cli.outputShown.empty()) return rel.empty() ? "." : rel;
  std::string dir = cli.outputShown;
  if (dir.back() != '/') dir += '/';
  return dir + rel;
}

static std::string reasonOf(uint32_t code) {
  switch (code) {
    case kIoNameTooLong: return tr("the path is longer than 259 bytes", "パスが 259 バイトを超えています");
    case kIoShortRead: return tr("the file ended early", "ファイルが途中で終わっています");
    case kIoShortWrite: return tr("not everything could be written", "すべてを書き込めませんでした");
    case kIoNoMemory: return tr("not enough memory", "メモリが足りません");
    case kIoUnbound:
    case kIoNotOpen: return tr("internal file state error", "内部のファイル状態の誤り");
    default: return code ? sysErrorText(code) : tr("unknown error", "原因不明のエラー");
  }
}

// Where in the archive the damage lies, from the phase and the name of the
// record read last.
static std::string damageDetail(bool cutShort) {
  if (cli.phase <= PhaseHeader)
    return tr("its header ends before its texts do", "ヘッダーが途中で終わっています");
  const ByteString* last = previousEntryName();
  const std::string lastName = std::string(bsText(last), last->length);
  const std::string name = quoted(shownEntry(lastName.data(), (uint32_t)lastName.size()));
  const bool haveName = last->length > 0;
  const bool inData = cli.phase == PhaseData && lastName == cli.currentCp932;
  if (cutShort) {
    if (!haveName) return tr("it ends before its first entry is complete (the file was cut short)",
                              "最初のエントリの途中で終わっています（ファイルが途中で切れています）");
    return tr("it ends too early, at entry ", "エントリ") + name +
           tr(" (the file was cut short)", "で終わっています（ファイルが途中で切れています）");
  }
  if (app.crcRegister != 0) {
    if (!haveName) return tr("a block check failed in its first entry", "最初のエントリでブロックの検査に失敗しました");
    return tr("a block check failed at entry ", "エントリ") + name + tr("", "でブロックの検査に失敗しました");
  }
  if (haveName && !entryNameIsSafe(lastName.c_str()))
    return tr("the entry name ", "エントリ名") + name +
           tr(" could reach outside the target folder or is no plain file name; such names are refused",
              "は解凍先フォルダの外を指すか、ふつうのファイル名ではないため拒否しました");
  if (inData)
    return tr("the compressed data of ", "") + name + tr(" is invalid", "の圧縮データが不正です");
  if (!haveName) return tr("its first entry record is invalid", "最初のエントリの記録が不正です");
  return tr("the record of entry ", "エントリ") + name +
         tr(" is invalid (a size or a reference to an earlier file is out of range)",
            "の記録が不正です（サイズまたは前のファイルへの参照が範囲外です）");
}

// The fatal messages wait for the process's end (pfExitProcess): only then
// is it known whether the file that was being written is gone, since the
// core deletes it after the message.
static void setFatal(int exitCode, const std::string& text) {
  cli.exitCode = exitCode;
  cli.fatalText = text;
  // Open, or closed with a failure: either way the core removes it.
  cli.fatalPartial = app.outputFile.state == FileReadWrite || app.outputFile.closeFailed;
  cli.partialCp932 = app.outputFile.name;
}

static std::string partialNote() {
  if (cli.toStdout)  // open for the whole run; `writing` tells whether a file was under way
    return !cli.writing ? "" : tr(" Standard output holds only the first part of ", "標準出力には") + quoted(cli.currentShown) +
           tr(".", "の途中までしか書かれていません。");
  if (!cli.fatalPartial) return "";
  if (pfProbe(cli.partialCp932.c_str()) == kProbeNothing)
    return tr(" The partly extracted file ", "途中まで解凍したファイル") + quoted(cli.currentShown) +
           tr(" was removed.", "は削除しました。");
  return tr(" The partly extracted file ", "途中まで解凍したファイル") + quoted(cli.currentShown) +
         tr(" could not be removed; it is incomplete.", "は削除できませんでした。このファイルは不完全です。");
}

static void reportDamaged(bool cutShort) {
  setFatal(ExitDamaged, tr("the archive ", "アーカイブ") + quoted(cli.archiveShown) +
                            tr(" is damaged: ", "は壊れています: ") + damageDetail(cutShort) + tr(".", "。"));
}

static void reportReadFailure(uint32_t code) {
  setFatal(ExitIo, tr("cannot read the archive ", "アーカイブ") + quoted(cli.archiveShown) +
                       tr(": ", "を読み込めません: ") + reasonOf(code) + tr(".", "。"));
}

// ---- the overwrite question ----

bool readAnswerLine(std::string* line) { return sysReadLine("", false, line); }

static int askOverwrite(const char* fullPath) {
  const std::string shown = shownPath(fullPath);
  for (;;) {
    progressClear();
    fprintf(stderr, "%s",
            showText(quoted(shown) +
                     tr(" already exists. Replace it? [y]es, [n]o, [A]ll, [N]one, [q]uit: ",
                        "はすでに存在します。上書きしますか？ [y]はい [n]いいえ [A]すべて上書き [N]すべてスキップ [q]中止: "))
                .c_str());
    fflush(stderr);
    std::string a;
    if (!readAnswerLine(&a)) {
      fputc('\n', stderr);
      if (!interruptSignal) {
        cli.stoppedAtExisting = true;
        cli.stoppedPath = shown;
      }
      return kIdCancel;
    }
    if (a == "y" || a == "Y" || a == "yes") return kIdYes;
    if (a == "n" || a == "no") return kIdNo;
    if (a == "A" || a == "a" || a == "all") {
      cli.overwrite = OverwriteAll;
      return kIdYes;
    }
    if (a == "N" || a == "none") {
      cli.overwrite = OverwriteNone;
      return kIdNo;
    }
    if (a == "q" || a == "Q" || a == "quit") {
      cli.stoppedAtExisting = true;
      cli.stoppedPath = shown;
      return kIdCancel;
    }
  }
}

static int answerOverwrite(const char* fullPath) {
  int answer;
  switch (cli.overwrite) {
    case OverwriteAll: answer = kIdYes; break;
    case OverwriteNone: answer = kIdNo; break;
    case OverwriteRefuse:
      cli.stoppedAtExisting = true;
      cli.stoppedPath = shownPath(fullPath);
      answer = kIdCancel;
      break;
    default: answer = askOverwrite(fullPath); break;
  }
  // Replacing must not write through a symbolic link that stands where the
  // file goes (it could point anywhere): the link itself is removed first.
  if (answer == kIdYes) sysRemoveLinkAt(fullPath);
  return answer;
}

// ---- the seam ----

int pfMessageBox(MessageId id, const char* text, const char* subject, uint32_t flags, bool owned) {
  switch (id) {
    case MsgOverwrite: return answerOverwrite(subject);
    case MsgDamaged:
      // A read that failed outright earlier (its code still pending) makes
      // the data look damaged: the read failure is the cause.
      if (pendingIoError) reportReadFailure(pendingIoError);
      else reportDamaged(false);
      break;
    case MsgReadFailed:
      // A read that failed outright leaves its code pending; a block stream
      // that simply stops leaves none: the file was cut short.
      if (pendingIoError) reportReadFailure(pendingIoError);
      else reportDamaged(true);
      break;
    case MsgWriteFailed: {
      const uint32_t code = pendingIoError ? pendingIoError : pfLastError();
      if (cli.toStdout)
        setFatal(ExitIo, tr("cannot write ", "") + quoted(cli.currentShown) +
                             tr(" to standard output: ", "を標準出力に書き込めません: ") + reasonOf(code) + tr(".", "。"));
      else
        setFatal(ExitIo, tr("cannot write ", "") + quoted(cli.currentShown) + tr(": ", "を書き込めません: ") +
                             reasonOf(code) + tr(".", "。"));
      break;
    }
    case MsgFolderFailed: {
      const uint32_t probe = pfProbe(subject);
      const std::string reason = probe != kProbeNothing && !(probe & kAttrDirectory)
                                     ? tr("a file of that name is in the way", "同じ名前のファイルがあります")
                                     : reasonOf(pfLastError());
      setFatal(ExitIo, tr("cannot create the folder ", "フォルダ") + quoted(shownPath(subject)) +
                           tr(": ", "を作れません: ") + reason + tr(".", "。"));
      break;
    }
    default:
      cli.exitCode = ExitIo;
      cliError(showCp932(text, strlen(text), false));
      break;
  }
  return kIdOk;
}

void pfShowStatus(StatusId id, const char* text, const char* fullPath) {
  // Only the extraction driver reports status; the walkers of list and
  // test keep their own accounts.
  if (id == StatusProcessing) {
    if (decodingFile && decoder) {
      cli.bytesDone += (uint64_t)decoder->produced;
      ++cli.filesDone;
    }
    decodingFile = false;
    cli.writing = false;
    cli.phase = PhaseRecord;
    cli.currentShown = shownPath(fullPath);
    const char* p = fullPath;
    if (p[0] == '.' && p[1] == '\\') p += 2;
    cli.currentCp932 = p;
    return;
  }
  cli.phase = PhaseData;
  decodingFile = true;
  cli.writing = id == StatusExtracting;
  if (id == StatusExtracting) ++cli.filesExtracted;
  else ++cli.filesSkipped;
  progressStart(cli.currentShown, 0);
}

void pfPumpOneMessage() { progressTick(); }

void pfExitProcess(uint32_t code) {
  if (!cli.fatalText.empty()) cliError(cli.fatalText + partialNote());
  progressClear();
  fflush(stdout);
  exit(cli.exitCode ? cli.exitCode : (code ? (int)ExitIo : (int)ExitOk));
}

// ---- progress ----

double nowSeconds() { return sysSeconds(); }

void progressStart(const std::string& shownName, uint64_t extraBytes) {
  progressName = shownName;
  progressExtra = extraBytes;
}

// Keeps the end of a name (the file's own name) within `width` columns.
static std::string tailToWidth(const std::string& s, size_t width) {
  if (displayWidth(s) <= width) return s;
  size_t start = 0;
  while (start < s.size() && displayWidth(s.substr(start)) + 3 > width) {
    ++start;
    while (start < s.size() && ((unsigned char)s[start] & 0xC0) == 0x80) ++start;
  }
  return "..." + s.substr(start);
}

void progressTick() {
  if (!cli.progress) return;
  const double t = nowSeconds();
  if (t - cli.startTime < 0.3 || t - cli.lastDraw < 0.1) return;
  cli.lastDraw = t;
  const uint64_t bytes = cli.bytesDone + progressExtra + (decoder ? (uint64_t)decoder->produced : 0);
  const double rate = bytes / (t - cli.startTime);
  const unsigned percent =
      cli.streamDataBytes ? (unsigned)((uint64_t)app.consumedCount * 100 / cli.streamDataBytes) : 0;
  char head[128];
  snprintf(head, sizeof head, "[%3u%%] %u %s, %s, %s/s  ", percent > 100 ? 100 : percent, cli.filesDone,
           tr("files", "ファイル"), humanBytes((double)bytes).c_str(), humanBytes(rate).c_str());
  const size_t columns = sysTerminalColumns() - 1;
  const size_t used = displayWidth(head);
  std::string line = head;
  if (used + 4 < columns) line += tailToWidth(progressName, columns - used);
  fprintf(stderr, "\r\033[K%s", showText(line).c_str());
  fflush(stderr);
  cli.lineShown = true;
}

void progressClear() {
  if (!cli.lineShown) return;
  fputs("\r\033[K", stderr);
  fflush(stderr);
  cli.lineShown = false;
}
