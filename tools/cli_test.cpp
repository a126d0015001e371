// vellicor test: decode everything, write nothing, say where damage is.
#include <stdio.h>

#include <string>

#include "tools/cli_commands.h"
#include "tools/cli_open.h"
#include "tools/cli_options.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "tools/cli_walk.h"

static bool verbose;
static uint32_t files, folders;
static uint64_t totalBytes;

static void verified(const EntryHeader* h) {
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
  ArchiveInfo info;
  openArchive(o.archive, &info);
  takePassword(o.passwordFile);
  walkEntries(0, verified);
  if (!o.quiet) {
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
  return ExitOk;
}
