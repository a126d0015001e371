// vellicor test: decode everything, write nothing, say where damage is.
#include <stdio.h>

#include <string>

#include "tools/cli_archives.h"
#include "tools/cli_commands.h"
#include "tools/cli_open.h"
#include "tools/cli_options.h"
#include "tools/cli_select.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "tools/cli_walk.h"

static bool verbose;
static uint32_t files, folders;
static uint64_t totalBytes;
static Selection selection;
static const char* passwordFile;
static bool quiet;

static void verified(const EntryHeader* h) {
  if (!entrySelected(&selection, bsText(&h->entryName), h->entryName.length, h->isFolder)) return;
  if (h->isFolder) ++folders;
  else {
    ++files;
    totalBytes += (uint64_t)h->fileSize;
  }
  if (verbose) {
    progressClear();
    fputs(showText(tr("OK  ", "正常  ") + shownName(h) + "\n").c_str(), stdout);
  }
}

// One archive; damage and the like end the process from inside.
static int testArchive(const char* archive) {
  files = folders = 0;
  totalBytes = 0;
  resetSelectionCounts(&selection);
  ArchiveInfo info;
  openArchive(archive, &info);
  takePassword(passwordFile);
  walkEntries(0, verified);
  if (!quiet) {
    std::string summary =
        cliJapanese()
            ? "「" + cli.archiveShown + "」は正常です: ファイル " + groupedNumber(files) + " 個、フォルダ " +
                  groupedNumber(folders) + " 個、合計 " + groupedNumber(totalBytes) +
                  " バイト。すべてのブロック検査値とサイズを確認しました。\n"
            : "\"" + cli.archiveShown + "\" is intact: " + groupedNumber(files) + (files == 1 ? " file, " : " files, ") +
                  groupedNumber(folders) + (folders == 1 ? " folder, " : " folders, ") + groupedNumber(totalBytes) +
                  " bytes; every block check and every size verified.\n";
    fputs(showText(summary).c_str(), stdout);
  }
  fflush(stdout);
  return reportUnmatched(&selection, cli.archiveShown) ? ExitUsage : ExitOk;
}

int cliTest(int argc, char** argv) {
  CliOptions o;
  cliBegin(ModeTest, false);
  if (!parseCliOptions(argc, argv, ModeTest, &o)) return ExitUsage;
  if (o.help) {
    printCliUsage(ModeTest, stdout);
    return ExitOk;
  }
  cliBegin(ModeTest, o.quiet);
  verbose = o.verbose && !o.quiet;
  quiet = o.quiet;
  passwordFile = o.passwordFile;
  std::vector<const char*> archives{o.archive}, names;
  splitOperands(o.operands, &archives, &names);
  if (!selectByNames(&selection, names)) return ExitUsage;
  if (archives.size() == 1) return testArchive(o.archive);
  return runEachArchive(archives, testArchive, false, 0);
}
